#pragma once

#include "internaldatabean.h"

class SdpDataBean : public InternalDataBean {
public:
    const std::string &getSdpType() const { return m_sdpType; }
    void setSdpType(const std::string &sdpType) { m_sdpType = sdpType; }
    const std::string &getSdp() const { return m_sdp; }
    void setSdp(const std::string &sdp) { m_sdp = sdp; }

    Json::Value toJson() const override;
    static SdpDataBean *fromJson(const Json::Value &json);

private:
    std::string m_sdpType;
    std::string m_sdp;
};
