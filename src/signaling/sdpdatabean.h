#pragma once

#include "internaldatabean.h"

class SdpDataBean : public InternalDataBean {
public:
    const std::string &getSdpType() const { return sdpType_; }
    void setSdpType(const std::string &sdpType) { sdpType_ = sdpType; }
    const std::string &getSdp() const { return sdp_; }
    void setSdp(const std::string &sdp) { sdp_ = sdp; }

    Json::Value toJson() const override;
    static SdpDataBean *fromJson(const Json::Value &json);

private:
    std::string sdpType_;
    std::string sdp_;
};
