#pragma once

#include "internaldatabean.h"

class IceCandiateDataBean : public InternalDataBean {
public:
    const std::string &getCandidate() const { return candidate_; }
    void setCandidate(const std::string &candidate) { candidate_ = candidate; }
    int getSdpMlineIndex() const { return sdpMlineIndex_; }
    void setSdpMlineIndex(int index) { sdpMlineIndex_ = index; }
    const std::string &getSdpMid() const { return sdpMid_; }
    void setSdpMid(const std::string &sdpMid) { sdpMid_ = sdpMid; }

    Json::Value toJson() const override;
    static IceCandiateDataBean *fromJson(const Json::Value &json);

private:
    std::string candidate_;
    int sdpMlineIndex_ = 0;
    std::string sdpMid_;
};
