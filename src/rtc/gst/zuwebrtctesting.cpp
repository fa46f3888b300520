#include <atomic>

#include "rtc/gst/encoder.h"
#include "rtc/gst/engine.h"
#include "rtc/gst/feedhub.h"
#include "rtc/gst/peer.h"
#include "rtc/gst/zuwebrtc_testing.h"

namespace zuengine::testing {

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

struct EncoderProbe::Impl {
    Impl(int width, int height)
        : width(width),
          height(height),
          caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, width,
                                   "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30, 1,
                                   nullptr)),
          encoder(VideoCodec::H264, [this](VideoCodec, GstSample *sample) {
              GstBuffer *buffer = gst_sample_get_buffer(sample);
              keys += buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
              samples++;
          }) {}

    const int width, height;
    GstMiniRef<GstCaps> caps;
    std::atomic<int> samples{0}, keys{0};
    Encoder encoder;
};

EncoderProbe::EncoderProbe(int width, int height) : impl_(std::make_unique<Impl>(width, height)) {}

EncoderProbe::~EncoderProbe() {
    impl_->encoder.stop();
}

bool EncoderProbe::start() {
    Engine::instance();  // GStreamer is initialised with the engine
    return impl_->encoder.start();
}

void EncoderProbe::push(uint8_t luma) {
    const gsize luminance = gsize(impl_->width) * impl_->height;
    const gsize size = luminance + 2 * gsize((impl_->width + 1) / 2) * ((impl_->height + 1) / 2);
    GstMiniRef<GstBuffer> picture(gst_buffer_new_allocate(nullptr, size, nullptr));
    gst_buffer_memset(picture.get(), 0, luma, luminance);
    gst_buffer_memset(picture.get(), luminance, 128, size - luminance);
    impl_->encoder.push(picture.get(), impl_->caps.get(), impl_->width, impl_->height);
}

void EncoderProbe::requestKeyFrame() {
    impl_->encoder.requestKeyFrame();
}

int EncoderProbe::samplesOut() const {
    return impl_->samples;
}

int EncoderProbe::keyFramesOut() const {
    return impl_->keys;
}

}  // namespace zuengine::testing
