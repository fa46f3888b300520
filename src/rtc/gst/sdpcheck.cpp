#include "rtc/gst/sdpcheck.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace zuengine {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// An IPv4 or IPv6 address (with an optional zone), which needs no lookup.
bool isAddressLiteral(const std::string &address) {
    const std::string plain = address.substr(0, address.find('%'));
    unsigned char bytes[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, plain.c_str(), bytes) == 1 || inet_pton(AF_INET6, plain.c_str(), bytes) == 1;
}

bool allDigits(const std::string &s, size_t maxLen) {
    if (s.empty() || s.size() > maxLen)
        return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Parses a non-negative decimal of at most 9 digits.
bool toInt(const std::string &s, int &out) {
    if (!allDigits(s, 9))
        return false;
    out = std::atoi(s.c_str());
    return true;
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

struct RawMedia {
    SdpMedia media;
    std::vector<int> formats;
    std::map<int, std::string> rtpmap;  // pt -> "name/clock"
    std::map<int, std::string> fmtp;
    bool hasUfrag = false, hasPwd = false, hasFingerprint = false;
};

std::string fmtpValue(const std::string &fmtp, const std::string &key) {
    for (const std::string &part : split(fmtp, ';')) {
        std::string p = part;
        p.erase(0, p.find_first_not_of(' '));
        auto eq = p.find('=');
        if (eq == std::string::npos)
            continue;
        if (lower(p.substr(0, eq)) == key)
            return p.substr(eq + 1);
    }
    return {};
}

void chooseCodec(RawMedia &raw) {
    if (raw.media.kind == "audio") {
        for (int pt : raw.formats) {
            auto it = raw.rtpmap.find(pt);
            if (it != raw.rtpmap.end() && lower(it->second) == "opus/48000/2") {
                raw.media.opusPayloadType = pt;
                return;
            }
        }
        return;
    }
    for (int pt : raw.formats) {
        auto it = raw.rtpmap.find(pt);
        if (it == raw.rtpmap.end())
            continue;
        std::string name = lower(it->second);
        if (name.rfind("vp8/90000", 0) == 0) {
            raw.media.codec = VideoCodec::VP8;
            raw.media.payloadType = pt;
            return;
        }
        if (name.rfind("h264/90000", 0) == 0) {
            const std::string &fmtp = raw.fmtp[pt];
            if (fmtpValue(fmtp, "packetization-mode") != "1")
                continue;
            std::string profile = fmtpValue(fmtp, "profile-level-id");
            if (!SdpCheck::isBaselineProfile(profile))
                continue;
            raw.media.codec = VideoCodec::H264;
            raw.media.payloadType = pt;
            raw.media.profileLevelId = profile;
            return;
        }
    }
}

}  // namespace

const char *codecName(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::H264:
            return "H264";
        case VideoCodec::VP8:
            return "VP8";
        default:
            return "none";
    }
}

int SdpSummary::videoIndex() const {
    for (size_t i = 0; i < media.size(); ++i)
        if (media[i].kind == "video" && !media[i].rejected && media[i].codec != VideoCodec::None)
            return static_cast<int>(i);
    return -1;
}

int SdpSummary::audioIndex() const {
    for (size_t i = 0; i < media.size(); ++i) {
        const SdpMedia &m = media[i];
        if (m.kind == "audio" && (!m.rejected || m.bundleOnly) && m.opusPayloadType >= 0 &&
            (m.direction == "recvonly" || m.direction == "sendrecv"))
            return static_cast<int>(i);
    }
    return -1;
}

bool SdpSummary::hasApplication() const {
    return std::any_of(media.begin(), media.end(),
                       [](const SdpMedia &m) { return m.kind == "application" && !m.rejected; });
}

bool SdpSummary::anyVideo() const {
    return std::any_of(media.begin(), media.end(), [](const SdpMedia &m) { return m.kind == "video"; });
}

bool SdpCheck::isBaselineProfile(const std::string &id) {
    if (id.empty())
        return true;  // RFC 6184: absent means baseline
    if (id.size() != 6 ||
        !std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return false;
    unsigned long v = std::strtoul(id.c_str(), nullptr, 16);
    unsigned profileIdc = (v >> 16) & 0xff;
    unsigned constraints = (v >> 8) & 0xff;
    // Baseline (whose decoders take our constrained baseline), or main and extended flagged as
    // constrained baseline (RFC 6184, table 5).
    return profileIdc == 0x42 || (profileIdc == 0x4d && (constraints & 0x80)) ||
           (profileIdc == 0x58 && (constraints & 0xc0) == 0xc0);
}

bool SdpCheck::analyse(const std::string &text, SdpSummary &out, std::string &error) {
    out = SdpSummary();
    if (text.empty()) {
        error = "empty description";
        return false;
    }
    if (text.size() > kMaxSdpBytes) {
        error = "description larger than 64 KiB";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = "NUL byte in description";
        return false;
    }
    std::vector<std::string> lines;
    {
        std::string cur;
        for (char c : text) {
            if (c == '\n') {
                if (!cur.empty() && cur.back() == '\r')
                    cur.pop_back();
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        if (!cur.empty())
            lines.push_back(cur);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.empty() || lines[0] != "v=0") {
        error = "description does not start with v=0";
        return false;
    }
    bool sessionUfrag = false, sessionPwd = false, sessionFingerprint = false, haveOrigin = false;
    std::vector<RawMedia> raws;
    for (size_t n = 1; n < lines.size(); ++n) {
        const std::string &line = lines[n];
        if (line.size() < 2 || line[1] != '=' || !std::islower(static_cast<unsigned char>(line[0]))) {
            error = "malformed line " + std::to_string(n + 1);
            return false;
        }
        char kind = line[0];
        std::string value = line.substr(2);
        if (kind == 'o') {
            haveOrigin = true;
        } else if (kind == 'm') {
            std::vector<std::string> f = split(value, ' ');
            if (f.size() < 3) {
                error = "malformed m= line";
                return false;
            }
            RawMedia raw;
            raw.media.kind = f[0];
            std::string port = f[1].substr(0, f[1].find('/'));
            int portValue = 0;
            if (!toInt(port, portValue) || portValue > 65535) {
                error = "bad port in m= line";
                return false;
            }
            raw.media.rejected = portValue == 0;
            for (size_t i = 3; i < f.size(); ++i) {
                int pt = 0;
                if (toInt(f[i], pt) && pt <= 127)
                    raw.formats.push_back(pt);
            }
            if (raws.size() >= 64) {
                error = "too many media sections";
                return false;
            }
            raws.push_back(raw);
        } else if (kind == 'a') {
            std::string attr = value.substr(0, value.find(':'));
            std::string arg = value.find(':') == std::string::npos ? "" : value.substr(value.find(':') + 1);
            RawMedia *cur = raws.empty() ? nullptr : &raws.back();
            if (attr == "ice-ufrag") {
                (cur ? cur->hasUfrag : sessionUfrag) = !arg.empty();
            } else if (attr == "ice-pwd") {
                (cur ? cur->hasPwd : sessionPwd) = !arg.empty();
            } else if (attr == "fingerprint") {
                (cur ? cur->hasFingerprint : sessionFingerprint) = arg.find(' ') != std::string::npos;
            } else if (cur && attr == "mid") {
                cur->media.mid = arg;
            } else if (cur && attr == "bundle-only") {
                cur->media.bundleOnly = true;
            } else if (cur && (attr == "sendrecv" || attr == "sendonly" || attr == "recvonly" ||
                               attr == "inactive")) {
                cur->media.direction = attr;
            } else if (cur && (attr == "rtpmap" || attr == "fmtp")) {
                auto sp = arg.find(' ');
                int pt = 0;
                if (sp == std::string::npos || !toInt(arg.substr(0, sp), pt) || pt > 127)
                    continue;  // tolerated: we only read what we understand
                (attr == "rtpmap" ? cur->rtpmap : cur->fmtp)[pt] = arg.substr(sp + 1);
            }
        }
    }
    if (!haveOrigin) {
        error = "no o= line";
        return false;
    }
    if (raws.empty()) {
        error = "no media section";
        return false;
    }
    for (RawMedia &raw : raws) {
        if (raw.media.rejected) {
            // A bundled sound section asks for sound as much as one with a port of its own.
            if (raw.media.bundleOnly && raw.media.kind == "audio") {
                if (raw.media.direction.empty())
                    raw.media.direction = "sendrecv";
                chooseCodec(raw);
            }
            out.media.push_back(raw.media);
            continue;
        }
        if (!(raw.hasUfrag || sessionUfrag) || !(raw.hasPwd || sessionPwd)) {
            error = "media section without ICE credentials";
            return false;
        }
        if (!(raw.hasFingerprint || sessionFingerprint)) {
            error = "media section without DTLS fingerprint";
            return false;
        }
        if (raw.media.direction.empty())
            raw.media.direction = "sendrecv";
        if (raw.media.kind == "video" || raw.media.kind == "audio")
            chooseCodec(raw);
        out.media.push_back(raw.media);
    }
    return true;
}

bool SdpCheck::parseCandidate(const std::string &input, IceCandidate &out, std::string &error) {
    out = IceCandidate();
    if (input.size() > kMaxCandidateBytes) {
        error = "candidate longer than 1024 bytes";
        return false;
    }
    std::string line = input;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    if (line.rfind("a=", 0) == 0)
        line.erase(0, 2);
    if (line.rfind("candidate:", 0) != 0) {
        error = "candidate does not start with candidate:";
        return false;
    }
    for (unsigned char c : line) {
        if (c < 0x20 || c > 0x7e) {
            error = "control or non-ASCII byte in candidate";
            return false;
        }
    }
    std::vector<std::string> f = split(line.substr(10), ' ');
    if (f.size() < 8 || (f.size() - 8) % 2 != 0) {
        error = "candidate has a wrong number of fields";
        return false;
    }
    out.foundation = f[0];
    if (out.foundation.size() > 32 ||
        !std::all_of(out.foundation.begin(), out.foundation.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '/'; })) {
        error = "bad candidate foundation";
        return false;
    }
    if (!toInt(f[1], out.component) || out.component < 1 || out.component > 256) {
        error = "bad candidate component";
        return false;
    }
    out.transport = lower(f[2]);
    if (out.transport != "udp" && out.transport != "tcp") {
        error = "unknown candidate transport";
        return false;
    }
    if (!allDigits(f[3], 10) || std::strtoull(f[3].c_str(), nullptr, 10) > 0xffffffffULL) {
        error = "bad candidate priority";
        return false;
    }
    out.address = f[4];
    bool addressOk = !out.address.empty() && out.address.size() <= 255 &&
                     std::all_of(out.address.begin(), out.address.end(), [](unsigned char c) {
                         return std::isalnum(c) || c == '.' || c == ':' || c == '-' || c == '%';
                     });
    if (!addressOk) {
        error = "bad candidate address";
        return false;
    }
    out.mdns = out.address.size() > 6 && lower(out.address.substr(out.address.size() - 6)) == ".local";
    if (!out.mdns && !isAddressLiteral(out.address)) {
        // Any other name would be looked up in the DNS: a stranger would choose what we ask for.
        error = "candidate names a host, not an address";
        return false;
    }
    if (!toInt(f[5], out.port) || out.port > 65535) {
        error = "bad candidate port";
        return false;
    }
    if (f[6] != "typ") {
        error = "candidate without typ";
        return false;
    }
    out.type = f[7];
    if (out.type != "host" && out.type != "srflx" && out.type != "prflx" && out.type != "relay") {
        error = "unknown candidate type";
        return false;
    }
    return true;
}

}  // namespace zuengine
