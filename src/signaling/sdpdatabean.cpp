#include "sdpdatabean.h"

#include "core/jsontext.h"

Json::Value SdpDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["sdp_type"] = sdpType_;
    json["sdp"] = sdp_;
    return json;
}

SdpDataBean *SdpDataBean::fromJson(const Json::Value &json) {
    auto *bean = new SdpDataBean;
    bean->sdpType_ = jsontext::readString(json, "sdp_type");
    bean->sdp_ = jsontext::readString(json, "sdp");
    return bean;
}
