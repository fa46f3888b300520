#pragma once

// Hooks for the engine's own tests and benchmarks; not part of the contract.

#include <cstdint>
#include <memory>

#include "rtc/gst/sdpcheck.h"
#include "rtc/gst/syntheticpicture.h"

namespace zuengine {

// The codec a receive-only peer lists first in its offers (H.264 by default).
void setOfferPreference(VideoCodec first);

namespace testing {

// Colour of quadrant q of the synthetic picture (see SyntheticPicture).
YuvColour syntheticColour(int quadrant);

// Encoders made since the process started, and those running now.
int encodersCreated();
int encodersRunning();
// Key frames the encoders have produced since the process started.
int64_t keyFramesProduced();

// Pictures the peer has delivered through its frame callback; -1 for an unknown handle.
int64_t framesDelivered(int pc);
// The nanoseconds pc's data channel messages waited in all between the channel's signal and the
// receiver's thread; -1 for an unknown peer.
int64_t deliveryWaitNs(int pc);
// The codec a sending peer uses, "none" before its branch is built.
const char *sendCodec(int pc);
// Sends without the size limit of SendDataViaDataChannel, to play a remote that breaks it.
int sendUnchecked(int pc, const uint8_t *data, int length);
// Peers in the registry.
int openPeers();
// CreatePeerConnection fails for the next count peers, as it does when the engine cannot make one.
void refuseNextPeers(int count);

// An H.264 encoder of its own, outside any stream, fed flat pictures by the caller: for the rules of
// forced key frames, which a stream's viewers only see blurred by the network.
class EncoderProbe {
public:
    EncoderProbe(int width, int height);
    ~EncoderProbe();
    EncoderProbe(const EncoderProbe &) = delete;
    EncoderProbe &operator=(const EncoderProbe &) = delete;

    bool start();
    // One picture of this luma, chroma grey.
    void push(uint8_t luma);
    void requestKeyFrame();
    int samplesOut() const;
    int keyFramesOut() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace testing
}  // namespace zuengine
