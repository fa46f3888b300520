#include "sdpdatabean.h"

#include "core/jsontext.h"

Json::Value SdpDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["sdp_type"] = m_sdpType;
    json["sdp"] = m_sdp;
    return json;
}

SdpDataBean *SdpDataBean::fromJson(const Json::Value &json) {
    auto *bean = new SdpDataBean;
    bean->m_sdpType = jsontext::readString(json, "sdp_type");
    bean->m_sdp = jsontext::readString(json, "sdp");
    return bean;
}
