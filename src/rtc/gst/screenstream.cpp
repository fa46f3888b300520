#include "rtc/gst/screenstream.h"

#include <algorithm>
#include <chrono>

#include "core/logger.h"
#include "rtc/gst/screenframe.h"
#include "rtc/gst/screenscaler.h"
#include "rtc/gst/screensourcebackend.h"
#include "rtc/gst/threadjoin.h"

namespace zuengine {

ScreenStream::ScreenStream(PictureSink sink, std::function<void()> requestKeyFrame, int fps,
                           BackendFactory factory)
    : sink_(std::move(sink)),
      requestKeyFrame_(std::move(requestKeyFrame)),
      factory_(factory ? std::move(factory) : BackendFactory(&ScreenSourceBackend::create)),
      fps_(std::clamp(fps, 1, 60)) {}

ScreenStream::~ScreenStream() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    joinUnlessSelf(thread_);
}

void ScreenStream::setDemand(bool wanted) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = wanted;
        if (wanted && !thread_.joinable() && !quit_)
            thread_ = std::thread(&ScreenStream::run, this);
    }
    wake_.notify_all();
}

void ScreenStream::setSource(const ScreenSource &source) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source_ = source;
        ++generation_;
    }
    wake_.notify_all();
}

void ScreenStream::resetSource() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source_.reset();
        ++generation_;
    }
    wake_.notify_all();
}

void ScreenStream::setLostListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    lostListener_ = std::move(listener);
}

void ScreenStream::size(int &width, int &height) const {
    std::lock_guard<std::mutex> lock(mutex_);
    width = width_;
    height = height_;
}

void ScreenStream::run() {
    nameThisThread("zu-screen");
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::nanoseconds(1000000000LL / fps_);
    ScreenScaler scaler;
    ScreenFrame canvas;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        wake_.wait(lock, [this] { return quit_ || wanted_; });
        if (quit_)
            break;
        lock.unlock();

        // A connection of its own for as long as someone watches; closing it ends every redirection.
        std::unique_ptr<ScreenSourceBackend> backend = lost_ ? nullptr : factory_();
        if (!backend && !lost_ && ScreenSourceBackend::waylandSession()) {
            // Black pictures would look like a working share: the share is told instead.
            reportLost("the desktop portal gave no screen cast (none installed, or the user cancelled)");
        }
        ScreenSource primary;
        bool havePrimary = false;
        if (backend) {
            std::vector<ScreenSource> monitors = backend->monitors();
            if (!monitors.empty()) {
                primary = monitors.front();
                havePrimary = true;
            }
        }
        lock.lock();
        if (width_ == 0) {
            width_ = havePrimary ? std::max(2, primary.width & ~1) : kNoDisplayWidth;
            height_ = havePrimary ? std::max(2, primary.height & ~1) : kNoDisplayHeight;
            g_logger->info("screen capture: stream size {}x{} at {} fps", width_, height_, fps_);
        }
        canvas.resize(width_, height_);
        canvas.fillBlack();
        lock.unlock();

        // Each time someone watches again, the chosen source is picked up afresh.
        uint64_t seenGeneration = ~uint64_t(0);
        std::optional<ScreenSource> current;
        bool failing = false;
        bool keyFramePending = false;
        int framesSincePrimary = 0;
        auto next = Clock::now();
        lock.lock();
        while (!quit_ && wanted_) {
            if (generation_ != seenGeneration) {
                seenGeneration = generation_;
                current = source_;
                failing = false;
                keyFramePending = true;
                if (current)
                    g_logger->info("screen capture: now sharing \"{}\"", current->title);
            }
            lock.unlock();

            if (backend) {
                if (!current && ++framesSincePrimary >= fps_) {
                    // The primary monitor may change while it is shared.
                    framesSincePrimary = 0;
                    std::vector<ScreenSource> monitors = backend->monitors();
                    if (!monitors.empty())
                        primary = monitors.front();
                }
                const ScreenSource &source = current ? *current : primary;
                ScreenImage image;
                if (backend->grab(source, true, image)) {
                    scaler.letterbox(image, canvas);
                    if (failing)
                        g_logger->info("screen capture: \"{}\" can be seen again", source.title);
                    failing = false;
                } else if (backend->displayLost()) {
                    reportLost(backend->lostReason());
                    backend.reset();
                } else if (!failing) {
                    g_logger->warn("screen capture: \"{}\" is closed or hidden; the last picture stays",
                                   source.title);
                    failing = true;
                }
            }
            sink_(canvas.view());
            if (keyFramePending && requestKeyFrame_)
                requestKeyFrame_();
            keyFramePending = false;

            next += period;
            const auto now = Clock::now();
            if (next < now - period)
                next = now;  // fell behind: no burst of late pictures
            lock.lock();
            wake_.wait_until(lock, next, [this, seenGeneration] {
                return quit_ || !wanted_ || generation_ != seenGeneration;
            });
        }
        lock.unlock();
        backend.reset();
        lock.lock();
    }
}

bool ScreenStream::lost() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}

void ScreenStream::clearLost() {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = false;
}

void ScreenStream::reportLost(const std::string &why) {
    std::function<void()> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lost_)
            return;
        lost_ = true;
        listener = lostListener_;
    }
    g_logger->error("screen capture: {}; nothing more can be captured", why);
    g_logger->flush();
    if (listener)
        listener();
}

}  // namespace zuengine
