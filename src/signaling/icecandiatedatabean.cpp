#include "icecandiatedatabean.h"

#include "core/jsontext.h"

Json::Value IceCandiateDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["candidate"] = m_candidate;
    json["sdp_mline_index"] = m_sdpMlineIndex;
    json["sdp_mid"] = m_sdpMid;
    return json;
}

IceCandiateDataBean *IceCandiateDataBean::fromJson(const Json::Value &json) {
    auto *bean = new IceCandiateDataBean;
    bean->m_candidate = jsontext::readString(json, "candidate");
    bean->m_sdpMlineIndex = jsontext::readInt(json, "sdp_mline_index");
    bean->m_sdpMid = jsontext::readString(json, "sdp_mid");
    return bean;
}
