#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "rtc/gst/screensource.h"
#include "rtc/gst/videofeed.h"

namespace zuengine {

class ScreenSourceBackend;

// The live picture of the chosen source, captured on a thread of its own at the stream rate while
// someone watches. Pictures keep one even size for the life of the stream (the primary monitor's
// when the stream first starts); other sources are scaled into it with black borders. When the
// chosen window is closed or minimised the last picture stays, so a shared window never turns
// into the whole desktop.
class ScreenStream {
public:
    using PictureSink = std::function<void(const I420Planes &picture)>;
    using BackendFactory = std::function<std::unique_ptr<ScreenSourceBackend>()>;

    static constexpr int kNoDisplayWidth = 1280;
    static constexpr int kNoDisplayHeight = 720;

    ScreenStream(PictureSink sink, std::function<void()> requestKeyFrame, int fps = VideoFeed::kDefaultFps,
                 BackendFactory factory = {});
    ~ScreenStream();

    ScreenStream(const ScreenStream &) = delete;
    ScreenStream &operator=(const ScreenStream &) = delete;

    // Starts or pauses capture; never waits for the capture thread.
    void setDemand(bool wanted);
    // The next picture shows this source, followed by a key-frame request.
    void setSource(const ScreenSource &source);
    // Back to the primary monitor.
    void resetSource();
    // Called once, on the capture thread, when the display is gone; the last picture stays.
    void setLostListener(std::function<void()> listener);
    bool lost() const;
    // A desktop to capture exists again (a new screen cast after one the desktop ended).
    void clearLost();

    // The stream's picture size, fixed once known; 0 x 0 before the first capture.
    void size(int &width, int &height) const;

private:
    void run();
    void reportLost(const std::string &why);

    PictureSink sink_;
    std::function<void()> requestKeyFrame_;
    std::function<void()> lostListener_;
    bool lost_ = false;
    BackendFactory factory_;
    const int fps_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool quit_ = false;
    std::optional<ScreenSource> source_;
    uint64_t generation_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::thread thread_;
};

}  // namespace zuengine
