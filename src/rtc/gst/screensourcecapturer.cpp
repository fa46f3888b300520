#include "rtc/gst/screensourcecapturer.h"

#include "core/logger.h"
#include "rtc/gst/screenscaler.h"
#include "rtc/gst/screensourcebackend.h"

namespace zuengine {

ScreenSourceCapturer::ScreenSourceCapturer(std::unique_ptr<ScreenSourceBackend> backend)
    : backend_(std::move(backend)) {}

ScreenSourceCapturer::~ScreenSourceCapturer() = default;

int ScreenSourceCapturer::sourceCount() {
    std::vector<ScreenSource> listed;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        if (backend_)
            listed = backend_->sources(excluded_);
    }
    std::lock_guard<std::mutex> lock(listMutex_);
    indexed_ = std::move(listed);
    ++listGeneration_;
    return static_cast<int>(indexed_.size());
}

void ScreenSourceCapturer::exclude(uint64_t windowId) {
    std::lock_guard<std::mutex> lock(backendMutex_);
    excluded_.insert(windowId);
}

void ScreenSourceCapturer::snapshotRound(const SnapshotCallback &callback) {
    if (cancelled_)
        return;
    std::vector<ScreenSource> listed;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        if (backend_)
            listed = backend_->sources(excluded_);
    }
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(listMutex_);
        indexed_.clear();
        generation = ++listGeneration_;
    }
    ScreenScaler scaler;
    ScreenFrame thumbnail;
    for (const ScreenSource &source : listed) {
        if (cancelled_)
            break;
        bool captured = false;
        {
            std::lock_guard<std::mutex> lock(backendMutex_);
            ScreenImage image;
            captured = backend_->grab(source, false, image);
            if (captured)
                scaler.toThumbnail(image, thumbnail);
        }
        if (!captured) {
            g_logger->info("screen capture: \"{}\" went away before its snapshot; it is left out",
                           source.title);
            continue;
        }
        std::lock_guard<std::mutex> delivery(deliveryMutex_);
        if (cancelled_)
            break;
        {
            std::lock_guard<std::mutex> lock(listMutex_);
            if (listGeneration_ == generation)
                indexed_.push_back(source);
        }
        deliveringThread_ = std::this_thread::get_id();
        callback(thumbnail, source.title);
        deliveringThread_ = std::thread::id();
    }
    std::lock_guard<std::mutex> lock(backendMutex_);
    if (backend_)
        backend_->releaseWindows();
}

std::optional<ScreenSource> ScreenSourceCapturer::sourceAt(int index) const {
    std::lock_guard<std::mutex> lock(listMutex_);
    if (index < 0 || index >= static_cast<int>(indexed_.size()))
        return std::nullopt;
    return indexed_[static_cast<std::size_t>(index)];
}

void ScreenSourceCapturer::cancel() {
    cancelled_ = true;
    if (deliveringThread_.load() == std::this_thread::get_id())
        return;
    // Waits for a callback under way.
    std::lock_guard<std::mutex> delivery(deliveryMutex_);
}

}  // namespace zuengine
