#include "icecandiatedatabean.h"

#include "core/jsontext.h"

Json::Value IceCandiateDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["candidate"] = candidate_;
    json["sdp_mline_index"] = sdpMlineIndex_;
    json["sdp_mid"] = sdpMid_;
    return json;
}

IceCandiateDataBean *IceCandiateDataBean::fromJson(const Json::Value &json) {
    auto *bean = new IceCandiateDataBean;
    bean->candidate_ = jsontext::readString(json, "candidate");
    bean->sdpMlineIndex_ = jsontext::readInt(json, "sdp_mline_index");
    bean->sdpMid_ = jsontext::readString(json, "sdp_mid");
    return bean;
}
