#pragma once

// The process-wide engine: GStreamer set-up, the one GLib main-context thread on which all of the
// engine's GLib work runs, and the registry of peer handles.

#include <glib.h>
#include <gst/gst.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace zuengine {

class Peer;
class FeedHub;
class SoundHub;

class Engine {
public:
    static Engine &instance();

    // Runs fn on the engine thread, later and in the order posted.
    void post(std::function<void()> fn);
    // Runs fn on the engine thread and waits for it (directly when already there).
    void invoke(const std::function<void()> &fn);
    bool onEngineThread() const;
    GMainContext *context() const { return context_; }
    // A watch of the pipeline's bus that calls fn on the engine thread; destroyed with dropSource.
    GSource *watchBus(GstElement *pipeline, gboolean (*fn)(GstBus *, GstMessage *, gpointer), gpointer data);
    // Destroys and releases a source of the engine's context and clears the pointer; null is fine.
    static void dropSource(GSource *&source);

    int addPeer(std::shared_ptr<Peer> peer);
    std::shared_ptr<Peer> findPeer(int handle);
    // Removes the handle from the registry; the peer is returned to be closed.
    std::shared_ptr<Peer> takePeer(int handle);
    size_t peerCount();
    // For tests: the next count peers are refused as if the registry were full.
    void refuseNextPeers(int count);

    FeedHub &feed() { return *feed_; }
    SoundHub &sound() { return *sound_; }

    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

private:
    Engine();
    void run();

    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    std::thread thread_;
    std::thread::id threadId_;
    std::thread warmUpThread_;

    std::mutex registryMutex_;
    std::map<int, std::shared_ptr<Peer>> peers_;
    int nextHandle_ = 1;
    int refusals_ = 0;  // under registryMutex_

    std::unique_ptr<FeedHub> feed_;
    std::unique_ptr<SoundHub> sound_;
};

}  // namespace zuengine
