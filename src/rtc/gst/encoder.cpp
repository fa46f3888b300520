#include "rtc/gst/encoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <string>

#include "core/logger.h"

namespace zuengine {

namespace {

constexpr int kKeyFrameInterval = 150;  // frames: a bounded interval besides key frames on request

std::string describe(VideoCodec codec) {
    // No B-frames, zero latency, fast presets: the stream is watched live on a LAN.
    if (codec == VideoCodec::H264)
        return "x264enc name=enc tune=zerolatency speed-preset=ultrafast b-adapt=false bframes=0 "
               "vbv-buf-capacity=120 key-int-max=" +
               std::to_string(kKeyFrameInterval) +
               " bitrate=3000 ! video/x-h264,profile=constrained-baseline,stream-format=byte-stream,"
               "alignment=au";
    // One libvpx thread: its worker threads spin-wait and crawl on a busy two-core machine.
    return "vp8enc name=enc deadline=1 end-usage=cbr lag-in-frames=0 buffer-size=150 cpu-used=8 "
           "target-bitrate=3000000 keyframe-max-dist=" +
           std::to_string(kKeyFrameInterval) + " ! video/x-vp8";
}

}  // namespace

Encoder::Encoder(VideoCodec codec, Output output) : codec_(codec), output_(std::move(output)) {}

Encoder::~Encoder() {
    stop();
}

bool Encoder::start() {
    std::string text =
        "appsrc name=src format=time is-live=true do-timestamp=true max-buffers=2 "
        "leaky-type=downstream ! " +
        describe(codec_) + " ! appsink name=sink sync=false async=false";
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(text.c_str(), &error);
    if (!pipeline || error) {
        g_logger->error(
            "media engine: cannot build the {} encoder ({}); is {} installed?", codecName(codec_),
            error ? error->message : "unknown error",
            codec_ == VideoCodec::H264 ? "gstreamer1.0-plugins-ugly" : "gstreamer1.0-plugins-good");
        if (error)
            g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    pipeline_ = GstRef<GstElement>(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    appsrc_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "src"));
    encoder_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "enc"));
    appsink_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink"));
    g_object_set(appsink_.get(), "emit-signals", TRUE, "max-buffers", 4u, "drop", FALSE, nullptr);
    g_signal_connect(appsink_.get(), "new-sample", G_CALLBACK(onNewSample), this);
    running_ = true;
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        g_logger->error("media engine: the {} encoder does not start", codecName(codec_));
        stop();
        return false;
    }
    g_logger->info("media engine: {} encoder started", codecName(codec_));
    return true;
}

void Encoder::stop() {
    if (!pipeline_)
        return;
    running_ = false;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    g_signal_handlers_disconnect_by_data(appsink_.get(), this);
    appsink_.reset();
    encoder_.reset();
    appsrc_.reset();
    pipeline_.reset();
    g_logger->info("media engine: {} encoder stopped after {} frames", codecName(codec_), framesOut_.load());
}

void Encoder::setBitrate(int width, int height) {
    // About 6 Mbit/s at 1080p30 and 2.8 Mbit/s at 720p30 for screen content.
    const int kbps = std::clamp(static_cast<int>(static_cast<int64_t>(width) * height * 3 / 1000), 800, 8000);
    if (codec_ == VideoCodec::H264)
        g_object_set(encoder_.get(), "bitrate", static_cast<guint>(kbps), nullptr);
    else
        g_object_set(encoder_.get(), "target-bitrate", kbps * 1000, nullptr);
}

void Encoder::push(GstBuffer *picture, GstCaps *caps, int width, int height) {
    if (!running_ || !appsrc_)
        return;
    if (width != width_ || height != height_) {
        width_ = width;
        height_ = height;
        setBitrate(width, height);
        gst_app_src_set_caps(GST_APP_SRC(appsrc_.get()), caps);
    }
    gst_app_src_push_buffer(GST_APP_SRC(appsrc_.get()), gst_buffer_ref(picture));
    if (admitKeyRequest(false))
        forceKeyUnit();
}

bool Encoder::admitKeyRequest(bool fresh) {
    // Throttles key-frame storms when many viewers ask at once. The encoder's own throttle
    // (min-force-key-unit-interval) counts its first picture as a forced key frame, so the first
    // viewer, who connects just after the encoder started, waited up to 200 ms for its picture.
    constexpr gint64 kGapUs = 200 * 1000;
    std::lock_guard<std::mutex> lock(keyMutex_);
    if (!fresh && !keyRequestWaits_)
        return false;
    const gint64 now = g_get_monotonic_time();
    if (lastForcedUs_ != 0 && now - lastForcedUs_ < kGapUs) {
        keyRequestWaits_ = true;
        return false;
    }
    lastForcedUs_ = now;
    keyRequestWaits_ = false;
    return true;
}

void Encoder::requestKeyFrame() {
    // The first picture comes out as a key frame anyway, and 1.22.0's video encoder stamps a request
    // made before it about 1000 hours ahead (its output segment lacks x264enc's minimum-PTS offset
    // yet): such a request would never be served.
    if (!running_ || !appsink_ || framesOut_.load() == 0 || !admitKeyRequest(true))
        return;
    forceKeyUnit();
}

void Encoder::forceKeyUnit() {
    gst_element_send_event(appsink_.get(),
                           gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
}

GstFlowReturn Encoder::onNewSample(GstElement *sink, gpointer data) {
    auto *self = static_cast<Encoder *>(data);
    GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_FLUSHING;
    self->framesOut_++;
    if (self->running_)
        self->output_(self->codec_, sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}  // namespace zuengine
