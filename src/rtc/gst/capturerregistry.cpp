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
        std::make_unique<ScreenStream>([](const I420Planes &picture) { VideoFeed::instance().push(picture); },
                                       [] { VideoFeed::instance().requestKeyFrame(); });
    stream_->setLostListener([this] {
        std::lock_guard<std::mutex> lock(lostMutex_);
        for (auto &entry : lostListeners_)
            entry.second();
        lostListeners_.clear();
    });
}

bool CapturerRegistry::setLostListener(int handle, LostListener listener) {
    if (!find(handle))
        return false;
    std::lock_guard<std::mutex> lock(lostMutex_);
    if (!listener)
        lostListeners_.erase(handle);
    else if (stream_->lost())
        thread_.post([this, handle, listener] {
            std::lock_guard<std::mutex> lock(lostMutex_);
            if (find(handle))
                listener();
        });
    else
        lostListeners_[handle] = std::move(listener);
    return true;
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
    std::shared_ptr<ScreenSourceCapturer> capturer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = capturers_.find(handle);
        if (it == capturers_.end())
            return nullptr;
        capturer = std::move(it->second);
        capturers_.erase(it);
    }
    std::lock_guard<std::mutex> lock(lostMutex_);
    lostListeners_.erase(handle);
    return capturer;
}

}  // namespace zuengine
