#pragma once

// The engine side of VideoFeed: one encoder per codec in use, fed with the captured (or
// synthetic) pictures, and the fan-out of encoded access units to every sending peer.

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rtc/gst/sdpcheck.h"
#include "rtc/gst/videofeed.h"

namespace zuengine {

class Encoder;
class Peer;

class FeedHub {
public:
    FeedHub();
    ~FeedHub();

    // Any thread.
    void push(const I420Planes &picture);
    void setDemandListener(std::function<void(bool)> listener);
    void requestKeyFrame();
    void requestKeyFrame(VideoCodec codec);

    // Engine thread: a sending peer starts or stops taking the stream of one codec.
    bool attach(const std::shared_ptr<Peer> &peer, VideoCodec codec);
    void detach(Peer *peer);
    // Engine thread: stops the encoders and the synthetic source for good.
    void shutdown();

    // Testing.
    void forceSynthetic(bool on, int width, int height, int fps);
    int encodersCreated() const { return encodersCreated_.load(); }
    int encodersRunning();
    int64_t keyFrames() const { return keyFrames_.load(); }

private:
    void distribute(VideoCodec codec, GstSample *sample);
    void deliver(const uint8_t *const planes[3], const int strides[3], int width, int height);
    void syntheticLoop();
    void ensureSyntheticThread();
    void tellDemand(bool wanted);

    std::mutex mutex_;  // encoders_, subscribers_, demand_
    std::map<VideoCodec, std::shared_ptr<Encoder>> encoders_;
    std::map<VideoCodec, std::vector<std::shared_ptr<Peer>>> subscribers_;
    std::mutex listenerMutex_;
    std::function<void(bool)> listener_;  // under listenerMutex_, called under it too
    bool demand_ = false;
    std::atomic<int> encodersCreated_{0};
    std::atomic<int64_t> keyFrames_{0};

    std::mutex pushMutex_;  // one picture at a time into the encoders
    std::vector<uint8_t> packed_;

    // Synthetic picture: used when forced, or when nobody pushed for a while although peers watch.
    std::mutex synthMutex_;
    std::condition_variable synthCv_;
    std::thread synthThread_;
    bool synthStop_ = false;
    bool synthForced_ = false;
    int synthWidth_ = 1280, synthHeight_ = 720, synthFps_ = VideoFeed::kDefaultFps;
    std::atomic<int64_t> lastRealPush_{0};  // steady clock, ns
    std::atomic<int> lastWidth_{0}, lastHeight_{0};
};

}  // namespace zuengine
