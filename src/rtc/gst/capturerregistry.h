#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "rtc/gst/capturerthread.h"
#include "rtc/gst/screensourcecapturer.h"
#include "rtc/gst/screenstream.h"

namespace zuengine {

// The capturer handles of the process, the thread their snapshots run on, and the one live
// screen stream that feeds every sending peer.
class CapturerRegistry {
public:
    static CapturerRegistry &instance();

    int add(std::shared_ptr<ScreenSourceCapturer> capturer);
    std::shared_ptr<ScreenSourceCapturer> find(int handle) const;
    std::shared_ptr<ScreenSourceCapturer> take(int handle);

    CapturerThread &thread() { return thread_; }

    // Who hears that the stream's display (or screen cast) is gone: called once, on an engine
    // thread, or at once on the capturer thread when it was already gone. False for an unknown
    // handle.
    using LostListener = std::function<void()>;
    bool setLostListener(int handle, LostListener listener);

    // The stream, connected to the video feed on first use: from then on the primary monitor (or
    // the chosen source) is captured whenever a sending peer wants pictures.
    ScreenStream &stream();

    ~CapturerRegistry();

private:
    CapturerRegistry();

    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<ScreenSourceCapturer>> capturers_;
    // Called under their own lock, so that a listener removed with its handle is never called after.
    std::mutex lostMutex_;
    std::map<int, LostListener> lostListeners_;
    int nextHandle_ = 1;
    CapturerThread thread_;
    std::once_flag streamConnected_;
    std::unique_ptr<ScreenStream> stream_;
};

}  // namespace zuengine
