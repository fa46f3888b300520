#include "rtc/gst/videofeed.h"

#include "rtc/gst/engine.h"
#include "rtc/gst/feedhub.h"

namespace zuengine {

VideoFeed &VideoFeed::instance() {
    static VideoFeed feed;
    return feed;
}

void VideoFeed::push(const I420Planes &picture) {
    Engine::instance().feed().push(picture);
}

void VideoFeed::setDemandListener(std::function<void(bool wanted)> listener) {
    Engine::instance().feed().setDemandListener(std::move(listener));
}

void VideoFeed::requestKeyFrame() {
    Engine::instance().feed().requestKeyFrame();
}

}  // namespace zuengine
