#pragma once

// Inside the engine only: where pictures enter the sending pipeline. The screen capturer (or a
// synthetic picture in tests) pushes I420 pictures here at the stream rate; the engine encodes
// them once and fans them out to every sending peer.

#include <cstdint>
#include <functional>

#include "core/i420planes.h"

namespace zuengine {

class VideoFeed {
public:
    static constexpr int kDefaultFps = 30;

    static VideoFeed &instance();

    // Copies the picture into the pipeline; returns at once, from any thread. The size should stay
    // the same for the life of the stream (the capturer letterboxes other sources into it).
    void push(const I420Planes &picture);

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
