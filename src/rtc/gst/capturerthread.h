#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zuengine {

// The thread on which capturers run their snapshot rounds and call back, one task after another.
class CapturerThread {
public:
    CapturerThread();
    ~CapturerThread();

    CapturerThread(const CapturerThread &) = delete;
    CapturerThread &operator=(const CapturerThread &) = delete;

    void post(std::function<void()> task);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace zuengine
