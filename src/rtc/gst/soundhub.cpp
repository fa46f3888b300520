#include "rtc/gst/soundhub.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <string>

#include "core/logger.h"
#include "rtc/gst/engine.h"
#include "rtc/gst/peer.h"

namespace zuengine {

namespace {

std::string description(SoundHub::Source source) {
    // 20 ms frames at 96 kbit/s: little delay, and music still sounds like music.
    const std::string encode =
        " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2 ! volume name=mute"
        " ! opusenc bitrate=96000 frame-size=20 ! appsink name=out sync=false max-buffers=50 drop=true";
    const std::string tone =
        "audiotestsrc name=tone is-live=true wave=sine volume=0.5 freq=" + std::to_string(SoundHub::kToneHz);
    if (source == SoundHub::Source::Tone)
        return tone + " samplesperbuffer=960" + encode;
    if (source == SoundHub::Source::Beeps)
        return tone + " samplesperbuffer=240 ! audio/x-raw,format=S16LE,rate=48000,channels=2" + encode;
    // The monitor of the default output is what the speakers play, also under PipeWire's service.
    return "pulsesrc device=@DEFAULT_MONITOR@ client-name=zushare buffer-time=40000 latency-time=10000" +
           encode;
}

}  // namespace

SoundHub::~SoundHub() {
    shutdown();
}

void SoundHub::setSource(Source source) {
    source_ = source;
    Engine::instance().post([this] {
        if (running_ != Source::None && running_ != source_.load())
            stop();
        if (running_ == Source::None && source_.load() != Source::None && listened())
            start(source_.load());
    });
}

void SoundHub::setMuted(bool muted) {
    muted_ = muted;
    Engine::instance().post([this] {
        if (volume_)
            g_object_set(volume_.get(), "mute", muted_.load() ? TRUE : FALSE, nullptr);
    });
}

bool SoundHub::listened() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !subscribers_.empty();
}

void SoundHub::attach(const std::shared_ptr<Peer> &peer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(subscribers_.begin(), subscribers_.end(), peer) == subscribers_.end())
            subscribers_.push_back(peer);
    }
    if (running_ == Source::None && source_.load() != Source::None)
        start(source_.load());
}

void SoundHub::detach(Peer *peer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        subscribers_.erase(std::remove_if(subscribers_.begin(), subscribers_.end(),
                                          [peer](const std::shared_ptr<Peer> &p) { return p.get() == peer; }),
                           subscribers_.end());
    }
    // Nobody listens: the sound server is let go of.
    if (!listened())
        stop();
}

void SoundHub::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        subscribers_.clear();
    }
    stop();
}

void SoundHub::start(Source source) {
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description(source).c_str(), &error);
    if (!pipeline || error) {
        g_logger->warn("media engine: no sound to share: {}; install gstreamer1.0-plugins-base and -good",
                       error ? error->message : "the pipeline could not be made");
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(gst_object_ref_sink(pipeline));
        return;
    }
    pipeline_ = GstRef<GstElement>(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    volume_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline), "mute"));
    g_object_set(volume_.get(), "mute", muted_.load() ? TRUE : FALSE, nullptr);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(sink, "emit-signals", TRUE, nullptr);
    g_signal_connect(sink, "new-sample", G_CALLBACK(onNewSample), this);
    gst_object_unref(sink);
    if (source == Source::Beeps) {
        GstElement *tone = gst_bin_get_by_name(GST_BIN(pipeline), "tone");
        GstPad *pad = gst_element_get_static_pad(tone, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBeepProbe, nullptr, nullptr);
        gst_object_unref(pad);
        gst_object_unref(tone);
    }
    busWatch_ = Engine::instance().watchBus(pipeline, onBusMessage, this);
    running_ = source;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        g_logger->warn(
            "media engine: no sound to share: {} does not start (no sound server?); the "
            "share goes on with the picture only",
            source == Source::Speakers ? "the speakers' monitor" : "the test tone");
        stop();
        return;
    }
    g_logger->info("media engine: sharing {}", source == Source::Speakers ? "what the speakers play"
                                               : source == Source::Tone   ? "a 440 Hz test tone"
                                                                          : "a 440 Hz beep every second");
}

void SoundHub::stop() {
    Engine::dropSource(busWatch_);
    if (pipeline_) {
        GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline_.get()), "out");
        if (sink) {
            g_signal_handlers_disconnect_by_data(sink, this);
            gst_object_unref(sink);
        }
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
    volume_.reset();
    pipeline_.reset();
    running_ = Source::None;
}

gboolean SoundHub::onBusMessage(GstBus *, GstMessage *message, gpointer data) {
    auto *self = static_cast<SoundHub *>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        g_logger->warn("media engine: the shared sound stopped: {}; the share goes on with the picture only",
                       error ? error->message : "unknown error");
        g_clear_error(&error);
        self->stop();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

bool SoundHub::serverAnswers(const char *element) {
    // Ready, a sound server element has connected to its server; nothing is captured or played yet.
    GstElement *probe = gst_element_factory_make(element, nullptr);
    if (!probe)
        return false;
    GstRef<GstElement> held(GST_ELEMENT(gst_object_ref_sink(probe)));
    g_object_set(probe, "client-name", "zushare", nullptr);
    const bool answers = gst_element_set_state(probe, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS;
    gst_element_set_state(probe, GST_STATE_NULL);
    return answers;
}

bool SoundHub::available() {
    return serverAnswers("pulsesrc");
}

GstPadProbeReturn SoundHub::onBeepProbe(GstPad *pad, GstPadProbeInfo *info, gpointer) {
    GstBuffer *buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstElement *tone = gst_pad_get_parent_element(pad);
    const GstClockTime base = tone ? gst_element_get_base_time(tone) : 0;
    if (tone)
        gst_object_unref(tone);
    GstMapInfo map;
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || !gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
        return GST_PAD_PROBE_OK;
    // The pipeline runs on the system clock, which is CLOCK_MONOTONIC: sample i sounds at base + pts +
    // i/rate.
    auto *samples = reinterpret_cast<int16_t *>(map.data);
    const size_t frames = map.size / (2 * sizeof(int16_t));
    const int64_t start = int64_t(base + GST_BUFFER_PTS(buffer));
    for (size_t i = 0; i < frames; ++i) {
        const int64_t at = start + int64_t(i) * 1000000000 / 48000;
        if (at % 1000000000 >= kBeepNs)
            samples[2 * i] = samples[2 * i + 1] = 0;
    }
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
}

GstFlowReturn SoundHub::onNewSample(GstElement *sink, gpointer data) {
    auto *self = static_cast<SoundHub *>(data);
    GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_FLUSHING;
    std::vector<std::shared_ptr<Peer>> peers;
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        peers = self->subscribers_;
    }
    for (const auto &peer : peers)
        peer->pushSound(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}  // namespace zuengine
