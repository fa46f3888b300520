#include "rtc/gst/feedhub.h"

#include <gst/video/video.h>

#include <cstring>

#include "core/logger.h"
#include "rtc/gst/encoder.h"
#include "rtc/gst/engine.h"
#include "rtc/gst/gstref.h"
#include "rtc/gst/peer.h"
#include "rtc/gst/syntheticpicture.h"
#include "rtc/gst/threadjoin.h"

namespace zuengine {

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kCaptureSilenceNs = 1000LL * 1000 * 1000;

}  // namespace

FeedHub::FeedHub() = default;

FeedHub::~FeedHub() {
    shutdown();
}

void FeedHub::shutdown() {
    {
        std::lock_guard<std::mutex> lock(synthMutex_);
        synthStop_ = true;
    }
    synthCv_.notify_all();
    joinUnlessSelf(synthThread_);
    std::map<VideoCodec, std::shared_ptr<Encoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        encoders.swap(encoders_);
        subscribers_.clear();
    }
    for (auto &e : encoders)
        e.second->stop();
}

void FeedHub::setDemandListener(std::function<void(bool)> listener) {
    const bool listening = static_cast<bool>(listener);
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        listener_ = std::move(listener);
    }
    bool demand;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        demand = demand_;
    }
    if (listening && demand)
        Engine::instance().post([this] { tellDemand(true); });
}

void FeedHub::tellDemand(bool wanted) {
    // Called under its own lock: a listener that its owner cleared (in its destructor, say) is never
    // called after; a copy called outside the lock was, once, on a stream already destroyed.
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (listener_)
        listener_(wanted);
}

void FeedHub::push(const I420Planes &p) {
    if (!p.y || !p.u || !p.v || p.width <= 0 || p.height <= 0 || p.strideY < p.width ||
        p.strideU < (p.width + 1) / 2 || p.strideV < (p.width + 1) / 2)
        return;
    lastRealPush_ = nowNs();
    {
        std::lock_guard<std::mutex> lock(synthMutex_);
        if (synthForced_)
            return;
    }
    const uint8_t *planes[3] = {p.y, p.u, p.v};
    const int strides[3] = {p.strideY, p.strideU, p.strideV};
    deliver(planes, strides, p.width, p.height);
}

void FeedHub::deliver(const uint8_t *const planes[3], const int strides[3], int width, int height) {
    width &= ~1;
    height &= ~1;
    if (width <= 0 || height <= 0)
        return;
    std::vector<std::shared_ptr<Encoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &e : encoders_)
            encoders.push_back(e.second);
    }
    if (encoders.empty())
        return;
    std::lock_guard<std::mutex> lock(pushMutex_);
    // The buffer carries no video meta, so it must have the layout that GStreamer derives from the
    // caps alone: every plane's rows rounded up to 4 bytes, which a packed copy lacks unless the width
    // is a multiple of 8.
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, static_cast<guint>(width),
                              static_cast<guint>(height));
    GstMiniRef<GstBuffer> buffer(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr));
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer.get(), &map, GST_MAP_WRITE))
        return;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = GST_VIDEO_INFO_COMP_HEIGHT(&info, plane);
        const int bytes = GST_VIDEO_INFO_COMP_WIDTH(&info, plane);
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, plane);
        uint8_t *out = map.data + GST_VIDEO_INFO_PLANE_OFFSET(&info, plane);
        for (int r = 0; r < rows; ++r)
            std::memcpy(out + static_cast<size_t>(r) * stride,
                        planes[plane] + static_cast<size_t>(r) * strides[plane], bytes);
    }
    gst_buffer_unmap(buffer.get(), &map);
    GstMiniRef<GstCaps> caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                                 G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                                                 GST_TYPE_FRACTION, VideoFeed::kDefaultFps, 1, nullptr));
    lastWidth_ = width;
    lastHeight_ = height;
    for (auto &e : encoders)
        e->push(buffer.get(), caps.get(), width, height);
}

void FeedHub::requestKeyFrame() {
    std::vector<std::shared_ptr<Encoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto &e : encoders_)
            encoders.push_back(e.second);
    }
    for (auto &e : encoders)
        e->requestKeyFrame();
}

void FeedHub::requestKeyFrame(VideoCodec codec) {
    std::shared_ptr<Encoder> encoder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = encoders_.find(codec);
        if (it != encoders_.end())
            encoder = it->second;
    }
    if (encoder)
        encoder->requestKeyFrame();
}

bool FeedHub::attach(const std::shared_ptr<Peer> &peer, VideoCodec codec) {
    bool startDemand = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!encoders_.count(codec)) {
            auto encoder = std::make_shared<Encoder>(
                codec, [this](VideoCodec c, GstSample *sample) { distribute(c, sample); });
            if (!encoder->start())
                return false;
            encodersCreated_++;
            encoders_[codec] = encoder;
        }
        subscribers_[codec].push_back(peer);
        if (!demand_) {
            demand_ = true;
            startDemand = true;
        }
    }
    if (startDemand) {
        ensureSyntheticThread();
        synthCv_.notify_all();
        tellDemand(true);
    }
    return true;
}

void FeedHub::detach(Peer *peer) {
    std::vector<std::shared_ptr<Encoder>> unused;
    std::vector<std::shared_ptr<Peer>> released;
    bool endDemand = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool found = false;
        for (auto it = subscribers_.begin(); it != subscribers_.end();) {
            auto &list = it->second;
            for (auto p = list.begin(); p != list.end();) {
                if (p->get() == peer) {
                    released.push_back(*p);
                    p = list.erase(p);
                    found = true;
                } else {
                    ++p;
                }
            }
            if (list.empty()) {
                auto enc = encoders_.find(it->first);
                if (enc != encoders_.end()) {
                    unused.push_back(enc->second);
                    encoders_.erase(enc);
                }
                it = subscribers_.erase(it);
            } else {
                ++it;
            }
        }
        if (found && subscribers_.empty() && demand_) {
            demand_ = false;
            endDemand = true;
        }
    }
    for (auto &e : unused)
        e->stop();
    if (endDemand)
        tellDemand(false);
}

void FeedHub::distribute(VideoCodec codec, GstSample *sample) {
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (buffer && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT))
        keyFrames_++;
    std::vector<std::shared_ptr<Peer>> peers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = subscribers_.find(codec);
        if (it == subscribers_.end())
            return;
        peers = it->second;
    }
    for (auto &p : peers)
        p->pushEncoded(sample);
}

int FeedHub::encodersRunning() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(encoders_.size());
}

void FeedHub::forceSynthetic(bool on, int width, int height, int fps) {
    {
        std::lock_guard<std::mutex> lock(synthMutex_);
        synthForced_ = on;
        if (width > 0 && height > 0) {
            synthWidth_ = width & ~1;
            synthHeight_ = height & ~1;
        }
        if (fps > 0)
            synthFps_ = fps;
    }
    ensureSyntheticThread();
    synthCv_.notify_all();
}

void FeedHub::ensureSyntheticThread() {
    std::lock_guard<std::mutex> lock(synthMutex_);
    if (!synthThread_.joinable() && !synthStop_)
        synthThread_ = std::thread([this] { syntheticLoop(); });
}

void FeedHub::syntheticLoop() {
    nameThisThread("zu-synthetic");
    std::vector<uint8_t> picture;
    int64_t frame = 0;
    auto next = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(synthMutex_);
    while (!synthStop_) {
        bool demand;
        {
            std::lock_guard<std::mutex> l(mutex_);
            demand = demand_;
        }
        const bool captureSilent = nowNs() - lastRealPush_.load() > kCaptureSilenceNs;
        if (!demand || (!synthForced_ && !captureSilent)) {
            synthCv_.wait_for(lock, std::chrono::milliseconds(100));
            next = std::chrono::steady_clock::now();
            continue;
        }
        int w = synthWidth_, h = synthHeight_, fps = synthFps_;
        if (!synthForced_ && lastWidth_ > 0) {
            // Standing in for a capturer that went quiet: keep the stream's size.
            w = lastWidth_;
            h = lastHeight_;
        }
        lock.unlock();
        SyntheticPicture::render(frame++, w, h, picture);
        const uint8_t *planes[3] = {
            picture.data(), picture.data() + static_cast<size_t>(w) * h,
            picture.data() + static_cast<size_t>(w) * h + static_cast<size_t>(w / 2) * (h / 2)};
        const int strides[3] = {w, w / 2, w / 2};
        deliver(planes, strides, w, h);
        lock.lock();
        next += std::chrono::nanoseconds(1000000000LL / fps);
        auto now = std::chrono::steady_clock::now();
        if (next < now - std::chrono::milliseconds(200))
            next = now;
        synthCv_.wait_until(lock, next, [this] { return synthStop_; });
    }
}

}  // namespace zuengine
