// What the media engine reads from the remote side itself: SDP descriptions and ICE candidate
// lines. The first byte chooses which; what is accepted must be self-consistent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtc/gst/sdpcheck.h"

using zuengine::IceCandidate;
using zuengine::SdpCheck;
using zuengine::SdpSummary;
using zuengine::VideoCodec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string error;
    if (data[0] & 1) {
        IceCandidate c;
        if (SdpCheck::parseCandidate(text, c, error)) {
            if (c.port < 0 || c.port > 65535 || c.component < 1 || c.address.empty() || c.type.empty())
                std::abort();
        } else if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    SdpSummary summary;
    if (!SdpCheck::analyse(text, summary, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (summary.media.empty() || summary.media.size() > 64)
        std::abort();
    const int vi = summary.videoIndex();
    if (vi >= static_cast<int>(summary.media.size()))
        std::abort();
    if (vi >= 0) {
        const auto &m = summary.media[vi];
        if (m.codec == VideoCodec::None || m.payloadType < 0 || m.payloadType > 127 || m.rejected)
            std::abort();
        if (m.codec == VideoCodec::H264 && !SdpCheck::isBaselineProfile(m.profileLevelId))
            std::abort();
    }
    return 0;
}
