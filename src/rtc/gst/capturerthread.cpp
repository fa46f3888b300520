#include "rtc/gst/capturerthread.h"

#include "rtc/gst/threadjoin.h"

namespace zuengine {

CapturerThread::CapturerThread() : thread_(&CapturerThread::run, this) {}

CapturerThread::~CapturerThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    joinUnlessSelf(thread_);
}

void CapturerThread::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void CapturerThread::run() {
    nameThisThread("zu-capturer");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
        if (quit_)
            break;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // what the task holds is released outside the lock
        lock.lock();
    }
    // Tasks not yet run are dropped unrun; destroying them may release capturers.
    std::deque<std::function<void()>> dropped;
    dropped.swap(tasks_);
    lock.unlock();
}

}  // namespace zuengine
