#pragma once

// The shared sound of a share: what the speakers play (the default output's monitor) or a test
// tone, encoded once with Opus and fanned out to every sending peer that answered an audio section.
// It runs while it has a source and at least one peer takes it; without a sound server the share
// goes on without it.

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "rtc/gst/gstref.h"

namespace zuengine {

class Peer;

class SoundHub {
public:
    enum class Source { None = 0, Speakers = 1, Tone = 2, Beeps = 3 };
    static constexpr int kToneHz = 440;
    static constexpr int64_t kBeepNs = 100LL * 1000 * 1000;  // at the start of every second

    // Any thread, after GStreamer is up: whether a sound server answers the named element
    // (pulsesrc, pulsesink; false when the element is not installed), and so whether the speakers
    // can be shared.
    static bool serverAnswers(const char *element);
    static bool available();

    ~SoundHub();

    // Any thread.
    void setSource(Source source);
    // Silence at the source: every peer keeps its stream, so nothing is negotiated again.
    void setMuted(bool muted);

    // Engine thread. A peer attached while there is no source hears it once there is one.
    void attach(const std::shared_ptr<Peer> &peer);
    void detach(Peer *peer);
    void shutdown();

private:
    bool listened();
    void start(Source source);
    void stop();
    static GstFlowReturn onNewSample(GstElement *sink, gpointer self);
    static GstPadProbeReturn onBeepProbe(GstPad *pad, GstPadProbeInfo *info, gpointer);
    static gboolean onBusMessage(GstBus *, GstMessage *message, gpointer self);

    std::atomic<Source> source_{Source::None};
    std::atomic<bool> muted_{false};

    // Engine thread: the pipeline's state changes never run under mutex_, which its streaming
    // thread takes for every packet.
    GstRef<GstElement> pipeline_;
    GstRef<GstElement> volume_;
    GSource *busWatch_ = nullptr;
    Source running_ = Source::None;

    std::mutex mutex_;  // subscribers_
    std::vector<std::shared_ptr<Peer>> subscribers_;
};

}  // namespace zuengine
