#pragma once

// Inside the engine only: where pictures enter the sending pipeline. The screen capturer (or a
// synthetic picture in tests) pushes I420 pictures here at the stream rate; the engine encodes
// them once and fans them out to every sending peer.

#include <cstdint>
#include <functional>

namespace zuengine {

struct I420View {
    const uint8_t *y = nullptr;
    const uint8_t *u = nullptr;
    const uint8_t *v = nullptr;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int width = 0;   // even
    int height = 0;  // even
};

class VideoFeed {
public:
    static constexpr int kDefaultFps = 30;

    static VideoFeed &instance();

    // Copies the picture into the pipeline; returns at once, from any thread. The size should stay
    // the same for the life of the stream (the capturer letterboxes other sources into it).
    void push(const I420View &picture);

    // Told true when the first sending peer wants pictures and false when the last one is gone,
    // so that nothing is captured while nobody watches. Called on an engine thread.
    void setDemandListener(std::function<void(bool wanted)> listener);

    // Asks the encoders for a key frame at once (after a source switch, for example).
    void requestKeyFrame();

    // Implemented by the engine.
    struct Impl;

private:
    VideoFeed() = default;
};

}  // namespace zuengine
