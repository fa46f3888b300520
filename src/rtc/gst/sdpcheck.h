#pragma once

// The engine's own reading of what the remote side sends: an SDP description and ICE candidate
// lines. Everything here is plain text handling, so it can be fuzzed without the media framework.

#include <string>
#include <vector>

namespace zuengine {

enum class VideoCodec { None, H264, VP8 };

const char *codecName(VideoCodec codec);

struct SdpMedia {
    std::string kind;  // "video", "audio", "application", ...
    std::string mid;
    std::string direction;                // sendrecv, sendonly, recvonly, inactive
    bool rejected = false;                // port 0
    bool bundleOnly = false;              // port 0 with a=bundle-only: carried by the bundle
    VideoCodec codec = VideoCodec::None;  // the first usable one in the remote's order
    int payloadType = -1;
    std::string profileLevelId;  // H.264 only
    int opusPayloadType = -1;    // audio: the payload type of Opus at 48 kHz in stereo, or -1
};

struct SdpSummary {
    std::vector<SdpMedia> media;
    // Index into media of the first usable video section, or -1.
    int videoIndex() const;
    // Index of the first audio section that takes Opus and wants to receive, or -1.
    int audioIndex() const;
    bool hasApplication() const;
    bool anyVideo() const;
};

struct IceCandidate {
    std::string foundation;
    int component = 0;
    std::string transport;
    std::string address;
    int port = 0;
    std::string type;
    bool mdns = false;  // address is a "….local" name
};

class SdpCheck {
public:
    static constexpr size_t kMaxSdpBytes = 64 * 1024;
    static constexpr size_t kMaxCandidateBytes = 1024;

    // False (with a reason) when the text is not a usable WebRTC description.
    static bool analyse(const std::string &text, SdpSummary &out, std::string &error);

    // Accepts "candidate:..." with or without a leading "a=".
    static bool parseCandidate(const std::string &line, IceCandidate &out, std::string &error);

    // True for a constrained baseline (or baseline) profile-level-id that our encoder satisfies.
    static bool isBaselineProfile(const std::string &profileLevelId);
};

}  // namespace zuengine
