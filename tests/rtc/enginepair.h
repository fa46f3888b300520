#pragma once

// Two engine peers wired to each other inside one process: the receiving peer offers with a data
// channel, the sending peer answers with the screen stream. Shared by the engine's tests and
// benchmarks.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "rtc/zuwebrtc.h"

namespace enginetest {

struct FrameInfo {
    int width = 0, height = 0;
    int strideY = 0, strideU = 0, strideV = 0;
    bool packed = false;
    uint8_t samples[4][3] = {};  // Y, U, V at the centre of each quadrant
};

struct Endpoint {
    int pc = 0;
    Endpoint *other = nullptr;
    std::atomic<int> ready{0}, closed{0}, frames{0}, candidates{0};
    std::atomic<bool> released{false};   // ClosePeerConnection has returned
    std::atomic<int> lateCallbacks{0};   // callbacks seen after that
    std::atomic<bool> badBuffer{false};  // a data callback with a foreign buffer
    std::atomic<int> frameSleepMs{0};
    std::atomic<int> closeSelfAfterFrames{0};  // closes its own peer from the frame callback
    std::atomic<int64_t> firstFrameNs{0};
    std::atomic<bool> holdOffer{false};
    std::atomic<bool> holdCandidates{false};

    std::mutex mutex;
    FrameInfo lastFrame;
    std::vector<std::vector<uint8_t>> messages;
    std::vector<std::string> sdps;  // "type\nsdp"
    std::string heldOffer;
    std::vector<std::pair<std::string, int>> heldCandidates;
    uint8_t *receiveBuffer = nullptr;

    Endpoint();
    ~Endpoint();
    std::vector<std::vector<uint8_t>> takeMessages();
    std::string offerHeld();
    FrameInfo frame();
    std::size_t sdpCount();
};

class EnginePair {
public:
    EnginePair() = default;
    ~EnginePair();
    EnginePair(const EnginePair &) = delete;
    EnginePair &operator=(const EnginePair &) = delete;

    // Creates both peers, registers everything and sends the receiver's offer. With senderOffers
    // the sending peer offers instead (as a mobile member projecting its screen does) and the
    // receiving peer, which adds no data channel then, answers.
    void start(bool senderOffers = false);
    // Closes one side and marks it released (callbacks after that are counted as late).
    void closeReceiver();
    void closeSender();

    // Applies what the receiver held back (offer and candidates) to the sender.
    void releaseHeld();

    Endpoint receiver, sender;
    int64_t offerCreatedNs = 0;
};

int64_t monotonicNs();
// Whether a quadrant's sample shows the colour (0xRRGGBB, converted as libyuv does: BT.601, limited
// range) within the tolerance on each of Y, U and V.
bool showsColour(const FrameInfo &frame, int quadrant, uint32_t rgb, int tolerance = 14);

}  // namespace enginetest
