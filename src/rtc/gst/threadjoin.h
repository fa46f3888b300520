#pragma once

#include <pthread.h>

#include <thread>

namespace zuengine {

// Waits for a thread unless it is the calling one: exit() run on a worker thread destroys the
// worker's owner there, and a thread cannot wait for itself.
inline void joinUnlessSelf(std::thread &thread) {
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

// Names the calling thread (at most 15 characters), so that a stack dump or top -H tells the engine's
// threads apart.
inline void nameThisThread(const char *name) {
    pthread_setname_np(pthread_self(), name);
}

}  // namespace zuengine
