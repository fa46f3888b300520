#include "rtc/gst/capturerregistry.h"

#include "rtc/gst/videofeed.h"

namespace zuengine {

CapturerRegistry &CapturerRegistry::instance() {
    // The feed and the engine behind it are made first, so that at exit they outlive the
    // registry and its stream thread.
    static const bool feedReady = [] {
        VideoFeed::instance().setDemandListener({});
        return true;
    }();
    (void)feedReady;
    static CapturerRegistry registry;
    return registry;
}

CapturerRegistry::CapturerRegistry() {
    stream_ =
        std::make_unique<ScreenStream>([](const I420View &picture) { VideoFeed::instance().push(picture); },
                                       [] { VideoFeed::instance().requestKeyFrame(); });
}

CapturerRegistry::~CapturerRegistry() {
    VideoFeed::instance().setDemandListener({});
    stream_.reset();
}

ScreenStream &CapturerRegistry::stream() {
    std::call_once(streamConnected_, [this] {
        ScreenStream *stream = stream_.get();
        VideoFeed::instance().setDemandListener([stream](bool wanted) { stream->setDemand(wanted); });
    });
    return *stream_;
}

int CapturerRegistry::add(std::shared_ptr<ScreenSourceCapturer> capturer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int handle = nextHandle_++;
    capturers_[handle] = std::move(capturer);
    return handle;
}

std::shared_ptr<ScreenSourceCapturer> CapturerRegistry::find(int handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = capturers_.find(handle);
    return it == capturers_.end() ? nullptr : it->second;
}

std::shared_ptr<ScreenSourceCapturer> CapturerRegistry::take(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = capturers_.find(handle);
    if (it == capturers_.end())
        return nullptr;
    std::shared_ptr<ScreenSourceCapturer> capturer = std::move(it->second);
    capturers_.erase(it);
    return capturer;
}

}  // namespace zuengine
