#pragma once

// One encoder of the screen stream for one codec: raw I420 pictures in, encoded access units out
// to the feed hub, which fans them out to every sending peer of that codec.

#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "rtc/gst/gstref.h"
#include "rtc/gst/sdpcheck.h"

namespace zuengine {

class Encoder {
public:
    using Output = std::function<void(VideoCodec, GstSample *)>;

    Encoder(VideoCodec codec, Output output);
    ~Encoder();
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    // Builds and starts the pipeline; false (logged) when a plugin is missing.
    bool start();
    // Engine thread: stops the pipeline; no output is delivered after it returns.
    void stop();

    // Any thread. caps describe the raw picture; a change re-initialises the encoder.
    void push(GstBuffer *picture, GstCaps *caps, int width, int height);
    void requestKeyFrame();

    VideoCodec codec() const { return codec_; }
    uint64_t framesOut() const { return framesOut_.load(); }

private:
    static GstFlowReturn onNewSample(GstElement *sink, gpointer self);
    void setBitrate(int width, int height);
    // Whether a key frame may be forced now; a request inside the gap is kept for a later picture.
    bool admitKeyRequest(bool fresh);
    void forceKeyUnit();

    VideoCodec codec_;
    Output output_;
    GstRef<GstElement> pipeline_;
    GstRef<GstElement> appsrc_;
    GstRef<GstElement> encoder_;
    GstRef<GstElement> appsink_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> framesOut_{0};
    int width_ = 0, height_ = 0;  // guarded by the push caller (the feed hub's push lock)
    std::mutex keyMutex_;
    gint64 lastForcedUs_ = 0;  // 0: no key frame forced yet
    bool keyRequestWaits_ = false;
};

}  // namespace zuengine
