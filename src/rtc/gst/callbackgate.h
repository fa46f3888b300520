#pragma once

// Guards the delivery of one family of callbacks of a peer. Deliveries run under the gate's lock;
// close() waits for a delivery in progress on another thread and shuts the gate, so that after it
// returns no callback of that family runs. The lock is recursive: a callback may close its own
// peer or re-register. When close() is called from inside a callback of a different peer it waits
// only a bounded time, since that other callback may be waiting for the caller.

#include <atomic>
#include <chrono>
#include <mutex>

namespace zuengine {

class CallbackGate {
public:
    template <typename Fn>
    void deliver(Fn &&fn) {
        if (!open_.load(std::memory_order_acquire))
            return;
        std::lock_guard<std::recursive_timed_mutex> lock(mutex_);
        if (!open_.load(std::memory_order_relaxed))
            return;
        ++depth();
        fn();
        --depth();
    }

    // Runs fn under the gate's lock even when shut (registration changes).
    template <typename Fn>
    void locked(Fn &&fn) {
        std::unique_lock<std::recursive_timed_mutex> lock(mutex_, std::defer_lock);
        acquire(lock);
        fn();
    }

    void close() {
        open_.store(false, std::memory_order_release);
        std::unique_lock<std::recursive_timed_mutex> lock(mutex_, std::defer_lock);
        acquire(lock);
    }

    bool isOpen() const { return open_.load(std::memory_order_acquire); }

    // How many callbacks of any peer the current thread is inside.
    static int &depth() {
        thread_local int d = 0;
        return d;
    }

private:
    void acquire(std::unique_lock<std::recursive_timed_mutex> &lock) {
        if (depth() > 0)
            (void)lock.try_lock_for(std::chrono::seconds(2));
        else
            lock.lock();
    }

    std::recursive_timed_mutex mutex_;
    std::atomic<bool> open_{true};
};

}  // namespace zuengine
