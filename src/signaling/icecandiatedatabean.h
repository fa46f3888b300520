#pragma once

#include "internaldatabean.h"

class IceCandiateDataBean : public InternalDataBean {
public:
    const std::string &getCandidate() const { return m_candidate; }
    void setCandidate(const std::string &candidate) { m_candidate = candidate; }
    int getSdpMlineIndex() const { return m_sdpMlineIndex; }
    void setSdpMlineIndex(int index) { m_sdpMlineIndex = index; }
    const std::string &getSdpMid() const { return m_sdpMid; }
    void setSdpMid(const std::string &sdpMid) { m_sdpMid = sdpMid; }

    Json::Value toJson() const override;
    static IceCandiateDataBean *fromJson(const Json::Value &json);

private:
    std::string m_candidate;
    int m_sdpMlineIndex = 0;
    std::string m_sdpMid;
};
