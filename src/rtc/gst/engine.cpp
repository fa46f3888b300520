#include "rtc/gst/engine.h"

#include <gst/gst.h>
#include <openssl/crypto.h>

#include <vector>

#include "core/logger.h"
#include "rtc/gst/feedhub.h"
#include "rtc/gst/peer.h"
#include "rtc/gst/soundhub.h"
#include "rtc/gst/threadjoin.h"

namespace zuengine {

namespace {

struct Task {
    std::function<void()> fn;
};

gboolean runTask(gpointer data) {
    static_cast<Task *>(data)->fn();
    return G_SOURCE_REMOVE;
}

void freeTask(gpointer data) {
    delete static_cast<Task *>(data);
}

}  // namespace

Engine &Engine::instance() {
    static Engine engine;
    return engine;
}

Engine::Engine() {
    // OpenSSL's exit clean-up must run after this engine's destructor has joined the warm-up thread
    // below: started here, its exit handler is registered before the engine's own. (Asked for no
    // option, OpenSSL returns at once without starting.)
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    thread_ = std::thread([&] {
        nameThisThread("zu-engine");
        threadId_ = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> lock(m);
            started = true;
        }
        cv.notify_one();
        run();
    });
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return started; });
    feed_ = std::make_unique<FeedHub>();
    sound_ = std::make_unique<SoundHub>();
    // What a first peer would otherwise wait for, made here beside the start-up: the process's DTLS
    // certificate (made once, by the first DTLS element; an RSA key takes a few hundred
    // milliseconds), then the decoders' plugins, whose loading held up a first picture by about
    // 90 ms while the stream's branch was built.
    warmUpThread_ = std::thread([] {
        nameThisThread("zu-warm-up");
        if (GstElement *dtls = gst_element_factory_make("dtlsdec", nullptr))
            gst_object_unref(gst_object_ref_sink(dtls));
        for (const char *name : {"rtph264depay", "h264parse", "avdec_h264", "vp8dec", "videoconvert"}) {
            GstElementFactory *factory = gst_element_factory_find(name);
            if (!factory)
                continue;
            if (GstPluginFeature *loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory)))
                gst_object_unref(loaded);
            gst_object_unref(factory);
        }
    });
    gchar *version = gst_version_string();
    g_logger->info("media engine started on {}", version);
    g_free(version);
}

Engine::~Engine() {
    if (warmUpThread_.joinable())
        warmUpThread_.join();
    std::map<int, std::shared_ptr<Peer>> left;
    {
        std::lock_guard<std::mutex> lock(registryMutex_);
        left.swap(peers_);
    }
    for (auto &entry : left) {
        entry.second->close();
        invoke([&] { entry.second->teardown(); });
    }
    left.clear();
    invoke([this] { sound_->shutdown(); });
    feed_->shutdown();
    g_main_loop_quit(loop_);
    // exit() called on the engine thread itself (an X I/O error, say) cannot wait for that thread.
    if (onEngineThread())
        thread_.detach();
    else
        thread_.join();
    feed_.reset();
    sound_.reset();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

GSource *Engine::watchBus(GstElement *pipeline, gboolean (*fn)(GstBus *, GstMessage *, gpointer),
                          gpointer data) {
    GstBus *bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline));
    GSource *watch = gst_bus_create_watch(bus);
    g_source_set_callback(watch, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(fn)), data,
                          nullptr);
    g_source_attach(watch, context_);
    gst_object_unref(bus);
    return watch;
}

void Engine::dropSource(GSource *&source) {
    if (!source)
        return;
    g_source_destroy(source);
    g_source_unref(source);
    source = nullptr;
}

void Engine::run() {
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    // Work posted while stopping is run rather than dropped, so that no reference leaks.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
}

void Engine::post(std::function<void()> fn) {
    GSource *source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runTask, new Task{std::move(fn)}, freeTask);
    g_source_attach(source, context_);
    g_source_unref(source);
}

void Engine::invoke(const std::function<void()> &fn) {
    if (onEngineThread()) {
        fn();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    post([&] {
        fn();
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_one();
    });
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return done; });
}

bool Engine::onEngineThread() const {
    return std::this_thread::get_id() == threadId_;
}

void Engine::refuseNextPeers(int count) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    refusals_ = count;
}

int Engine::addPeer(std::shared_ptr<Peer> peer) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    if (refusals_ > 0) {
        --refusals_;
        return -1;
    }
    // Handles stay small and positive; a closed handle is not reused soon.
    for (int tries = 0; tries < 1000000; ++tries) {
        int h = nextHandle_;
        nextHandle_ = nextHandle_ >= 1000000 ? 1 : nextHandle_ + 1;
        if (!peers_.count(h)) {
            peers_[h] = std::move(peer);
            return h;
        }
    }
    return -1;
}

std::shared_ptr<Peer> Engine::findPeer(int handle) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    auto it = peers_.find(handle);
    return it == peers_.end() ? nullptr : it->second;
}

std::shared_ptr<Peer> Engine::takePeer(int handle) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    auto it = peers_.find(handle);
    if (it == peers_.end())
        return nullptr;
    std::shared_ptr<Peer> peer = std::move(it->second);
    peers_.erase(it);
    return peer;
}

size_t Engine::peerCount() {
    std::lock_guard<std::mutex> lock(registryMutex_);
    return peers_.size();
}

}  // namespace zuengine
