#include "rtc/gst/engine.h"
#include "rtc/gst/feedhub.h"
#include "rtc/gst/peer.h"
#include "rtc/gst/zuwebrtc_testing.h"

namespace zuengine::testing {

void useSyntheticPicture(int width, int height, int fps) {
    Engine::instance().feed().forceSynthetic(true, width, height, fps);
}

void useCapturedPictures() {
    Engine::instance().feed().forceSynthetic(false, 0, 0, 0);
}

YuvColour syntheticColour(int quadrant) {
    return SyntheticPicture::quadrantColour(quadrant);
}

int encodersCreated() {
    return Engine::instance().feed().encodersCreated();
}

int encodersRunning() {
    return Engine::instance().feed().encodersRunning();
}

int64_t keyFramesProduced() {
    return Engine::instance().feed().keyFrames();
}

int64_t framesDelivered(int pc) {
    auto peer = Engine::instance().findPeer(pc);
    return peer ? static_cast<int64_t>(peer->framesDelivered()) : -1;
}

int64_t deliveryWaitNs(int pc) {
    auto peer = Engine::instance().findPeer(pc);
    return peer ? peer->deliveryWaitNs() : -1;
}

const char *sendCodec(int pc) {
    auto peer = Engine::instance().findPeer(pc);
    return peer ? codecName(peer->sendCodec()) : "none";
}

int sendUnchecked(int pc, const uint8_t *data, int length) {
    auto peer = Engine::instance().findPeer(pc);
    return peer ? peer->sendData(data, length, false) : -1;
}

void refuseNextPeers(int count) {
    Engine::instance().refuseNextPeers(count);
}

int openPeers() {
    return static_cast<int>(Engine::instance().peerCount());
}

}  // namespace zuengine::testing
