#pragma once

// Engine peers: an Endpoint records its callbacks and hands its signaling to the other, if any; in an
// EnginePair the receiver offers with a data channel and the sender answers with the screen stream.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rtc/zuwebrtc.h"

namespace enginetest {

inline int64_t monotonicNs() {
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// n bytes (i * a + b) mod 256, as the browser page makes and checks them.
inline std::vector<uint8_t> fill(size_t n, int a, int b) {
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = static_cast<uint8_t>((i * a + b) & 255);
    return m;
}

struct FrameInfo {
    int width = 0, height = 0, strideY = 0, strideU = 0, strideV = 0;
    bool packed = false;
    uint8_t samples[4][3] = {};  // Y, U, V at the centre of each quadrant
};

struct Endpoint {
    int pc = 0;
    Endpoint *other = nullptr;
    // late: after release(); badBuffer: a foreign data buffer; hold: the offer and candidates are kept.
    std::atomic<int> ready{0}, closed{0}, frames{0}, candidates{0}, lateCallbacks{0}, frameSleepMs{0};
    std::atomic<int> closeSelfAfterFrames{0};
    std::atomic<bool> released{false}, badBuffer{false}, hold{false};
    std::atomic<int64_t> firstFrameNs{0};
    std::mutex mutex;
    FrameInfo lastFrame;
    std::vector<std::vector<uint8_t>> messages;
    std::vector<std::string> sdps;  // "type\nsdp"
    std::string heldOffer;
    std::vector<std::pair<std::string, int>> heldCandidates;
    std::vector<uint8_t> receiveBuffer = std::vector<uint8_t>(ZUWEBRTC_RECEIVE_BUFFER);

    ~Endpoint() { release(); }

    template <typename T>
    T copy(const T &value) {
        std::lock_guard<std::mutex> lock(mutex);
        return value;
    }
    template <typename T>
    T take(T &value) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(value, {});
    }
    FrameInfo frame() { return copy(lastFrame); }
    std::size_t sdpCount() { return copy(sdps).size(); }

    void release() {
        if (pc > 0 && !released) {
            ClosePeerConnection(pc);
            released = true;
        }
    }

    void registerAll() {
        RegisterOnLocalSdpReadytoSend(pc, onSdp, this, pc);
        RegisterOnIceCandiateReadytoSend(pc, onIce, this, pc);
        RegisterOnRemoteI420FrameReady(pc, onFrame, this, pc);
        RegisterOnLocalDataChannelReady(
            pc, [](void *user, int) { from(user).ready++; }, this, pc);
        RegisterOnPeerClosed(
            pc, [](void *user, int) { from(user).closed++; }, this, pc);
        RegisterOnDataFromDataChannelReady(pc, onData, receiveBuffer.data(), this, pc);
    }

    static Endpoint &from(void *user) {
        auto &self = *static_cast<Endpoint *>(user);
        self.lateCallbacks += self.released ? 1 : 0;
        return self;
    }
    static void onSdp(const char *type, const char *sdp, void *user, int) {
        Endpoint &self = from(user);
        const bool offer = std::strcmp(type, "offer") == 0, held = !self.other || (offer && self.hold);
        {
            std::lock_guard<std::mutex> lock(self.mutex);
            self.sdps.push_back(std::string(type) + "\n" + sdp);
            if (offer && held)
                self.heldOffer = sdp;
        }
        if (held)
            return;
        SetRemoteDescription(self.other->pc, type, sdp);
        if (offer)
            CreateAnswer(self.other->pc);
    }
    static void onIce(const char *candidate, int mline, const char *, void *user, int) {
        Endpoint &self = from(user);
        self.candidates++;
        if (self.hold || !self.other) {
            std::lock_guard<std::mutex> lock(self.mutex);
            self.heldCandidates.emplace_back(candidate, mline);
        } else {
            AddIceCandidate(self.other->pc, candidate, mline, "");
        }
    }
    static void onData(uint8_t *buffer, int length, void *user) {
        Endpoint &self = from(user);
        std::lock_guard<std::mutex> lock(self.mutex);
        if (buffer != self.receiveBuffer.data() || length < 0 || length > ZUWEBRTC_RECEIVE_BUFFER)
            self.badBuffer = true;
        else
            self.messages.emplace_back(buffer, buffer + length);
    }
    static void onFrame(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int sy, int su, int sv,
                        int, int w, int h, void *user, int) {
        Endpoint &self = from(user);
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        FrameInfo info{w, h, sy, su, sv, u == y + size_t(w) * h && v == u + size_t(cw) * ch};
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2 ? 3 : 1) * w / 4, row = (q / 2 ? 3 : 1) * h / 4;
            info.samples[q][0] = y[size_t(row) * sy + x];
            info.samples[q][1] = u[size_t(row / 2) * su + x / 2];
            info.samples[q][2] = v[size_t(row / 2) * sv + x / 2];
        }
        // Touch the last byte of the last plane, so that a short buffer shows under ASan.
        volatile uint8_t last = v[size_t(ch - 1) * sv + cw - 1];
        (void)last;
        {
            std::lock_guard<std::mutex> lock(self.mutex);
            self.lastFrame = info;
        }
        if (self.frames.fetch_add(1) == 0)
            self.firstFrameNs = monotonicNs();
        std::this_thread::sleep_for(std::chrono::milliseconds(self.frameSleepMs.load()));
        if (self.closeSelfAfterFrames > 0 && self.frames >= self.closeSelfAfterFrames)
            self.release();
    }
};

class EnginePair {
public:
    ~EnginePair() {
        closeReceiver();
        closeSender();
    }
    void start(bool senderOffers = false) {
        receiver.other = &sender;
        sender.other = &receiver;
        receiver.pc = CreatePeerConnection(0, 0, 0, 0, 1);
        sender.pc = CreatePeerConnection(0, 0, 0, 0, 0);
        AddStream(sender.pc, 1, 0);
        AddDataChannel(sender.pc);
        sender.registerAll();
        receiver.registerAll();
        offerCreatedNs = monotonicNs();
        if (!senderOffers)
            AddDataChannel(receiver.pc);
        CreateOffer(senderOffers ? sender.pc : receiver.pc);
    }
    void closeReceiver() { receiver.release(); }
    void closeSender() { sender.release(); }
    void releaseHeld() {
        receiver.hold = false;
        for (auto &c : receiver.take(receiver.heldCandidates))
            AddIceCandidate(sender.pc, c.first.c_str(), c.second, "");
        SetRemoteDescription(sender.pc, "offer", receiver.take(receiver.heldOffer).c_str());
        CreateAnswer(sender.pc);
    }

    Endpoint receiver, sender;
    int64_t offerCreatedNs = 0;
};

// Whether a quadrant shows the colour 0xRRGGBB (BT.601 limited range, as libyuv) within the tolerance.
inline bool showsColour(const FrameInfo &frame, int quadrant, uint32_t rgb, int tolerance = 14) {
    const int r = int(rgb >> 16) & 0xff, g = int(rgb >> 8) & 0xff, b = int(rgb) & 0xff;
    const int want[3] = {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16,
                         ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
                         ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
    for (int k = 0; k < 3; ++k)
        if (std::abs(int(frame.samples[quadrant][k]) - want[k]) > tolerance)
            return false;
    return true;
}

}  // namespace enginetest
