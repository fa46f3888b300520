#include "rtc/gst/peer.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/sdp/sdp.h>
#include <gst/video/video.h>

#include <chrono>
#include <cstring>

#include "core/logger.h"
#include "rtc/gst/engine.h"
#include "rtc/gst/feedhub.h"
#include "rtc/gst/soundhub.h"
#include "rtc/gst/threadjoin.h"

namespace zuengine {

namespace {

constexpr int64_t kSilenceLimitNs = 4000LL * 1000 * 1000;  // a vanished remote is reported after this
// Until the first RTP or RTCP packet neither side sends RTCP (rtpsession starts its reports with the
// media), so a stream still waiting for its first key frame is silent: allow the encoder's own
// key-frame interval and a margin.
constexpr int64_t kSilenceBeforeMediaNs = 10000LL * 1000 * 1000;
constexpr guint kLivenessPeriodMs = 500;
constexpr guint kMaxQueuedUnits = 15;                        // half a second of stream waiting for one peer
constexpr guint64 kMaxQueuedSoundNs = 200ULL * 1000 * 1000;  // more waiting is dropped, oldest first
constexpr int kOfferedOpusPayload = 111;
constexpr int64_t kKeyRequestGapNs = 500LL * 1000 * 1000;
constexpr size_t kMaxQueuedMessageBytes = 16u << 20;
// Tiny messages cost far more than their bytes in the queue; stop-and-wait peers never queue many.
constexpr size_t kMaxQueuedMessages = 4096;
// A real peer gathers a handful of candidates per interface; each one applied costs connectivity checks.
constexpr size_t kMaxRemoteCandidates = 256;

std::atomic<VideoCodec> g_offerFirst{VideoCodec::H264};
std::atomic<int> g_nextAssociation{1};

struct PromiseContext {
    std::weak_ptr<Peer> peer;
    bool offer;
    int handle;
};

void freePromiseContext(gpointer data) {
    delete static_cast<PromiseContext *>(data);
}

// The default output of the sound server, or a sink that drops the sound when there is none, so
// that the picture goes on. Held to the clock, as the picture is then.
std::string soundOutput(int handle) {
    if (SoundHub::serverAnswers("pulsesink"))
        return "pulsesink client-name=zushare sync=true";
    g_logger->warn(
        "media engine: peer {} cannot play the received sound: no sound server answers (or "
        "gstreamer1.0-pulseaudio is missing); the picture goes on without it",
        handle);
    return "fakesink sync=true";
}

GstCaps *codecCaps(VideoCodec codec, int pt, const std::string &profileLevelId) {
    if (codec == VideoCodec::H264)
        return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video", "encoding-name",
                                   G_TYPE_STRING, "H264", "payload", G_TYPE_INT, pt, "clock-rate", G_TYPE_INT,
                                   90000, "packetization-mode", G_TYPE_STRING, "1", "profile-level-id",
                                   G_TYPE_STRING, profileLevelId.empty() ? "42e01f" : profileLevelId.c_str(),
                                   "level-asymmetry-allowed", G_TYPE_STRING, "1", nullptr);
    return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video", "encoding-name",
                               G_TYPE_STRING, "VP8", "payload", G_TYPE_INT, pt, "clock-rate", G_TYPE_INT,
                               90000, nullptr);
}

// The reason in a promise's reply, or empty when it carries none (success has no reply at all).
std::string errorText(const GstStructure *reply) {
    if (!reply)
        return {};
    GError *error = nullptr;
    if (gst_structure_has_field(reply, "error") &&
        gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr)) {
        std::string text = error ? error->message : "unknown error";
        g_clear_error(&error);
        return text;
    }
    return {};
}

void onRemoteDescriptionSet(GstPromise *promise, gpointer data) {
    auto *ctx = static_cast<PromiseContext *>(data);
    if (gst_promise_wait(promise) != GST_PROMISE_RESULT_REPLIED)
        return;
    std::string error = errorText(gst_promise_get_reply(promise));
    if (!error.empty())
        g_logger->warn("media engine: peer {} refused the remote description: {}", ctx->handle, error);
}

}  // namespace

void setOfferPreference(VideoCodec first) {
    g_offerFirst = first;
}

int64_t Peer::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Peer::Peer(bool receiveOnly) : receiveOnly_(receiveOnly) {}

Peer::~Peer() {
    // teardown() has released everything on the engine thread; this only guards against a peer that
    // was never built.
    if (deliveryThread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            stopDelivery_ = true;
        }
        queueCv_.notify_all();
        deliveryThread_.join();
    }
}

// ---------------------------------------------------------------- building and teardown

bool Peer::build() {
    GstElement *pipeline = gst_pipeline_new(nullptr);
    pipeline_ = GST_ELEMENT(gst_object_ref_sink(pipeline));
    webrtc_ = gst_element_factory_make("webrtcbin", nullptr);
    if (!webrtc_) {
        g_logger->error(
            "media engine: no webrtcbin element; install gstreamer1.0-plugins-bad and gstreamer1.0-nice");
        return false;
    }
    gst_util_set_object_arg(G_OBJECT(webrtc_), "bundle-policy", "max-bundle");
    // The LAN needs little jitter buffering; the default of 200 ms shows as lag.
    g_object_set(webrtc_, "latency", 50u, nullptr);
    gst_bin_add(GST_BIN(pipeline_), webrtc_);

    g_signal_connect(webrtc_, "on-negotiation-needed", G_CALLBACK(onNegotiationNeededCb), this);
    g_signal_connect(webrtc_, "on-ice-candidate", G_CALLBACK(onIceCandidateCb), this);
    g_signal_connect(webrtc_, "notify::connection-state", G_CALLBACK(onStateNotifyCb), this);
    g_signal_connect(webrtc_, "notify::ice-connection-state", G_CALLBACK(onStateNotifyCb), this);
    g_signal_connect(webrtc_, "pad-added", G_CALLBACK(onPadAddedCb), this);
    g_signal_connect(webrtc_, "on-data-channel", G_CALLBACK(onDataChannelCb), this);
    g_signal_connect(pipeline_, "deep-element-added", G_CALLBACK(onDeepElementAddedCb), this);

    busWatch_ = Engine::instance().watchBus(pipeline_, onBusMessage, this);

    livenessTimer_ = g_timeout_source_new(kLivenessPeriodMs);
    g_source_set_callback(livenessTimer_, onLivenessTimer, this, nullptr);
    g_source_attach(livenessTimer_, Engine::instance().context());

    deliveryThread_ = std::thread([this] { deliveryLoop(); });

    // webrtcbin must be at least READY before it creates data channels or takes descriptions.
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        g_logger->error("media engine: peer {} does not start", handle_);
        return false;
    }
    return true;
}

void Peer::teardown() {
    if (tornDown_)
        return;
    tornDown_ = true;
    closing_ = true;
    Engine::instance().feed().detach(this);
    Engine::instance().sound().detach(this);
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        appsrc_ = nullptr;
        soundSrc_ = nullptr;
        gst_caps_replace(&sentCaps_, nullptr);
        gst_caps_replace(&soundCaps_, nullptr);
    }
    Engine::dropSource(livenessTimer_);
    Engine::dropSource(busWatch_);
    channelOpen_ = false;
    if (pipeline_) {
        // Stopping happens here, on the engine thread, never inside webrtcbin's own signals.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
    }
    {
        // The channel goes before webrtcbin: 1.22.0's channel dispose still reaches into it.
        std::unique_lock<std::shared_mutex> lock(channelMutex_);
        if (channel_) {
            g_signal_handlers_disconnect_by_data(channel_, this);
            g_object_unref(channel_);
            channel_ = nullptr;
        }
    }
    if (pipeline_) {
        if (webrtc_)
            g_signal_handlers_disconnect_by_data(webrtc_, this);
        g_signal_handlers_disconnect_by_data(pipeline_, this);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
        webrtc_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopDelivery_ = true;
        queue_.clear();
    }
    queueCv_.notify_all();
    if (deliveryThread_.joinable())
        deliveryThread_.join();
    g_logger->info("media engine: peer {} released ({} access units dropped for it)", handle_, droppedUnits_);
}

void Peer::close() {
    closing_ = true;
    events_.close();
    frames_.close();
    data_.close();
}

// ---------------------------------------------------------------- contract operations

int Peer::addStream() {
    if (receiveOnly_) {
        g_logger->warn("media engine: AddStream on receive-only peer {} refused", handle_);
        return ZUWEBRTC_ESTATE;
    }
    auto self = shared_from_this();
    Engine::instance().post([self] { self->wantStream_ = true; });
    return ZUWEBRTC_OK;
}

int Peer::addSound() {
    auto self = shared_from_this();
    Engine::instance().post([self] { self->wantSound_ = true; });
    return ZUWEBRTC_OK;
}

int Peer::addDataChannel() {
    auto self = shared_from_this();
    // The offering side creates the channel with its offer; the answering side adopts the remote's.
    Engine::instance().post([self] { self->wantDataChannel_ = true; });
    return ZUWEBRTC_OK;
}

int Peer::createOffer() {
    madeOffer_ = true;
    auto self = shared_from_this();
    Engine::instance().post([self] {
        if (self->tornDown_ || !self->webrtc_)
            return;
        if (self->receiveOnly_ && !self->receiveTransceiverAdded_)
            self->addReceiveTransceiver(nullptr);
        if (self->receiveOnly_ && self->wantSound_ && !self->soundBranchBuilt_)
            self->addSoundReceiver();
        if (!self->receiveOnly_ && self->wantStream_ && !self->sendBranchBuilt_)
            self->buildSendBranch(g_offerFirst.load(), g_offerFirst.load() == VideoCodec::H264 ? 102 : 96);
        if (self->wantDataChannel_ && !self->channel_)
            self->createDataChannel();
        self->createDescription(true);
    });
    return ZUWEBRTC_OK;
}

int Peer::createAnswer() {
    if (!gotOffer_) {
        g_logger->warn("media engine: CreateAnswer on peer {} without a remote offer refused", handle_);
        return ZUWEBRTC_ESTATE;
    }
    auto self = shared_from_this();
    Engine::instance().post([self] {
        if (self->tornDown_ || !self->webrtc_ || !self->haveRemote_)
            return;
        self->createDescription(false);
    });
    return ZUWEBRTC_OK;
}

void Peer::createDescription(bool offer) {
    GstPromise *promise = gst_promise_new_with_change_func(
        onDescriptionCreated, new PromiseContext{shared_from_this(), offer, handle_}, freePromiseContext);
    g_signal_emit_by_name(webrtc_, offer ? "create-offer" : "create-answer", nullptr, promise);
    gst_promise_unref(promise);
}

void Peer::onDescriptionCreated(GstPromise *promise, gpointer data) {
    auto *ctx = static_cast<PromiseContext *>(data);
    if (gst_promise_wait(promise) != GST_PROMISE_RESULT_REPLIED)
        return;
    const char *type = ctx->offer ? "offer" : "answer";
    const GstStructure *reply = gst_promise_get_reply(promise);
    GstWebRTCSessionDescription *desc = nullptr;
    if (reply && gst_structure_has_field(reply, type))
        gst_structure_get(reply, type, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &desc, nullptr);
    if (!desc) {
        const std::string why = errorText(reply);
        g_logger->warn("media engine: peer {} could not create its {}: {}", ctx->handle, type,
                       why.empty() ? "no description" : why);
        return;
    }
    auto peer = ctx->peer.lock();
    if (!peer) {
        gst_webrtc_session_description_free(desc);
        return;
    }
    const bool offer = ctx->offer;
    Engine::instance().post([peer, desc, offer] {
        peer->onLocalDescription(desc, offer);
        gst_webrtc_session_description_free(desc);
    });
}

int Peer::setRemoteDescription(const std::string &type, const std::string &sdp) {
    const bool offer = type == "offer";
    if (!offer && type != "answer") {
        g_logger->warn("media engine: peer {}: remote description of unknown type \"{}\" refused", handle_,
                       type);
        return ZUWEBRTC_EARG;
    }
    SdpSummary summary;
    std::string error;
    if (!SdpCheck::analyse(sdp, summary, error)) {
        g_logger->warn("media engine: peer {}: malformed remote {} refused: {}", handle_, type, error);
        return ZUWEBRTC_EARG;
    }
    GstSDPMessage *message = nullptr;
    if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK || !message ||
        gst_sdp_message_medias_len(message) != summary.media.size()) {
        if (message)
            gst_sdp_message_free(message);
        g_logger->warn("media engine: peer {}: remote {} refused: not a readable SDP", handle_, type);
        return ZUWEBRTC_EARG;
    }
    if (!offer && !madeOffer_) {
        gst_sdp_message_free(message);
        g_logger->warn("media engine: peer {}: remote answer without a local offer refused", handle_);
        return ZUWEBRTC_ESTATE;
    }
    if (offer)
        gotOffer_ = true;
    if (summary.anyVideo() && summary.videoIndex() < 0)
        g_logger->warn(
            "media engine: peer {}: the remote {} has no video codec in common (H264 constrained "
            "baseline with packetization-mode 1, or VP8): no video on this peer",
            handle_, type);
    auto self = shared_from_this();
    Engine::instance().post([self, offer, summary, message] {
        if (self->tornDown_ || !self->webrtc_) {
            gst_sdp_message_free(message);
            return;
        }
        const int vi = summary.videoIndex();
        if (offer && !self->receiveOnly_ && self->wantStream_ && !self->sendBranchBuilt_) {
            if (vi >= 0)
                self->buildSendBranch(summary.media[vi].codec, summary.media[vi].payloadType);
            else
                g_logger->warn(
                    "media engine: peer {}: the offer has no video section to send the screen on; "
                    "answering without media",
                    self->handle_);
        }
        if (offer && self->receiveOnly_ && !self->receiveTransceiverAdded_ && vi >= 0)
            self->addReceiveTransceiver(&summary.media[vi]);
        // An offer without an audio section is answered as it always was.
        const int ai = summary.audioIndex();
        // A section asked for is always answered by a sending transceiver, sound or none: 1.22 left
        // a browser's picture stalled when its audio section had no transceiver to meet.
        if (offer && !self->receiveOnly_ && self->wantSound_ && !self->soundBranchBuilt_ && ai >= 0)
            self->buildSoundBranch(summary.media[ai].opusPayloadType);
        GstWebRTCSessionDescription *desc = gst_webrtc_session_description_new(
            offer ? GST_WEBRTC_SDP_TYPE_OFFER : GST_WEBRTC_SDP_TYPE_ANSWER, message);
        GstPromise *promise = gst_promise_new_with_change_func(
            onRemoteDescriptionSet, new PromiseContext{self, offer, self->handle_}, freePromiseContext);
        g_signal_emit_by_name(self->webrtc_, "set-remote-description", desc, promise);
        gst_promise_unref(promise);
        gst_webrtc_session_description_free(desc);
        self->haveRemote_ = true;
        self->remoteMediaCount_ = summary.media.size();
        for (const PendingCandidate &c : self->pending_)
            self->applyCandidate(c);
        self->pending_.clear();
    });
    return ZUWEBRTC_OK;
}

int Peer::addIceCandidate(const std::string &candidate, int mlineIndex, const std::string &mid) {
    if (candidate.empty())
        return ZUWEBRTC_OK;  // end of candidates
    IceCandidate parsed;
    std::string error;
    if (!SdpCheck::parseCandidate(candidate, parsed, error)) {
        g_logger->warn("media engine: peer {}: malformed remote candidate refused: {}", handle_, error);
        return ZUWEBRTC_EARG;
    }
    if (mlineIndex < 0 || mlineIndex > 63) {
        g_logger->warn("media engine: peer {}: remote candidate with media index {} refused", handle_,
                       mlineIndex);
        return ZUWEBRTC_EARG;
    }
    if (parsed.mdns) {
        // Resolving would need a loop on GLib's default context; the browser's checks reach us anyway
        // and become peer-reflexive candidates.
        return ZUWEBRTC_OK;
    }
    (void)mid;
    std::string line = candidate.rfind("a=", 0) == 0 ? candidate.substr(2) : candidate;
    auto self = shared_from_this();
    Engine::instance().post([self, line, mlineIndex] {
        if (self->tornDown_)
            return;
        if (self->remoteCandidates_ >= kMaxRemoteCandidates) {
            if (self->remoteCandidates_++ == kMaxRemoteCandidates)
                g_logger->warn("media engine: peer {}: more than {} remote candidates; the rest are dropped",
                               self->handle_, kMaxRemoteCandidates);
            return;
        }
        ++self->remoteCandidates_;
        PendingCandidate c{line, mlineIndex};
        if (!self->haveRemote_) {
            self->pending_.push_back(c);
            return;
        }
        self->applyCandidate(c);
    });
    return ZUWEBRTC_OK;
}

void Peer::applyCandidate(const PendingCandidate &c) {
    if (static_cast<size_t>(c.mline) >= remoteMediaCount_) {
        g_logger->warn("media engine: peer {}: candidate for media index {} of {} ignored", handle_, c.mline,
                       remoteMediaCount_);
        return;
    }
    g_signal_emit_by_name(webrtc_, "add-ice-candidate", static_cast<guint>(c.mline), c.candidate.c_str());
}

int Peer::sendData(const uint8_t *data, int length, bool enforceLimit) {
    if (!data || length <= 0)
        return ZUWEBRTC_EARG;
    if (enforceLimit && length > ZUWEBRTC_MAX_MESSAGE) {
        g_logger->warn("media engine: peer {}: data channel message of {} bytes refused (at most {})",
                       handle_, length, ZUWEBRTC_MAX_MESSAGE);
        return ZUWEBRTC_ESIZE;
    }
    std::shared_lock<std::shared_mutex> lock(channelMutex_);
    if (!channel_ || !channelOpen_ || closing_)
        return ZUWEBRTC_ESTATE;
    GBytes *bytes = g_bytes_new(data, static_cast<gsize>(length));
    GError *error = nullptr;
    gboolean ok = gst_webrtc_data_channel_send_data_full(channel_, bytes, &error);
    g_bytes_unref(bytes);
    if (!ok) {
        g_logger->warn("media engine: peer {}: data channel send failed: {}", handle_,
                       error ? error->message : "unknown error");
        g_clear_error(&error);
        return ZUWEBRTC_EINTERNAL;
    }
    return ZUWEBRTC_OK;
}

// ---------------------------------------------------------------- registrations

void Peer::registerData(OnDataFromDataChannelReady cb, uint8_t *buffer, void *user, int tag) {
    (void)tag;
    data_.locked([&] {
        dataCb_ = cb;
        dataBuffer_ = buffer;
        dataUser_ = user;
        if (cb && buffer)
            dataEverRegistered_ = true;
    });
    queueCv_.notify_all();
}

// ---------------------------------------------------------------- sending branch

GstElement *Peer::addSendingBranch(const char *payloader, GstCaps *rtpCaps, GstCaps *preferences,
                                   const std::function<void(GstElement *src, GstElement *pay)> &configure) {
    GstElement *src = gst_element_factory_make("appsrc", nullptr);
    GstElement *pay = gst_element_factory_make(payloader, nullptr);
    GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
    if (!src || !pay || !filter) {
        g_logger->error("media engine: no {} element; install gstreamer1.0-plugins-good", payloader);
        for (GstElement *e : {src, pay, filter})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return nullptr;
    }
    g_object_set(src, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE, nullptr);
    configure(src, pay);
    g_object_set(filter, "caps", rtpCaps, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), src, pay, filter, nullptr);
    gst_element_link_many(src, pay, filter, nullptr);

    GstPad *sink = gst_element_request_pad_simple(webrtc_, "sink_%u");
    GstPad *out = gst_element_get_static_pad(filter, "src");
    gst_pad_link(out, sink);
    gst_object_unref(out);
    GstWebRTCRTPTransceiver *transceiver = nullptr;
    g_object_get(sink, "transceiver", &transceiver, nullptr);
    if (transceiver) {
        g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY,
                     "codec-preferences", preferences, nullptr);
        gst_object_unref(transceiver);
    }
    gst_object_unref(sink);
    for (GstElement *e : {filter, pay, src})
        gst_element_sync_state_with_parent(e);
    return src;
}

void Peer::pushToSource(GstElement *src, GstCaps *&sentCaps, GstBuffer *buffer, GstCaps *caps) {
    if (caps && (!sentCaps || !gst_caps_is_equal(sentCaps, caps))) {
        gst_caps_replace(&sentCaps, caps);
        gst_app_src_set_caps(GST_APP_SRC(src), caps);
    }
    // The source stamps it on arrival, in this peer's own clock.
    GstBuffer *copy = gst_buffer_copy(buffer);
    GST_BUFFER_PTS(copy) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(src), copy);
}

void Peer::buildSendBranch(VideoCodec codec, int payloadType) {
    GstCaps *rtpCaps = gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video",
                                           "encoding-name", G_TYPE_STRING, codecName(codec), "payload",
                                           G_TYPE_INT, payloadType, "clock-rate", G_TYPE_INT, 90000, nullptr);
    // Only media, name, payload and clock rate are pinned: a pinned profile-level-id that differs
    // from the encoder's output makes 1.22 refuse the caps.
    GstCaps *prefs = gst_caps_copy(rtpCaps);
    if (codec == VideoCodec::H264)
        gst_caps_set_simple(prefs, "packetization-mode", G_TYPE_STRING, "1", nullptr);
    GstElement *src =
        addSendingBranch(codec == VideoCodec::H264 ? "rtph264pay" : "rtpvp8pay", rtpCaps, prefs,
                         [&](GstElement *, GstElement *pay) {
                             g_object_set(pay, "mtu", 1200u, "pt", static_cast<guint>(payloadType), nullptr);
                             if (codec == VideoCodec::H264) {
                                 g_object_set(pay, "config-interval", -1, nullptr);
                                 gst_util_set_object_arg(G_OBJECT(pay), "aggregate-mode", "zero-latency");
                             } else {
                                 gst_util_set_object_arg(G_OBJECT(pay), "picture-id-mode", "15-bit");
                             }
                         });
    gst_caps_unref(prefs);
    gst_caps_unref(rtpCaps);
    if (!src)
        return;
    GstPad *srcPad = gst_element_get_static_pad(src, "src");
    gst_pad_add_probe(srcPad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, onUpstreamEventProbe, this, nullptr);
    gst_object_unref(srcPad);

    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        appsrc_ = src;
        waitingKeyFrame_ = true;
    }
    sendCodec_ = codec;
    sendBranchBuilt_ = true;
    if (!Engine::instance().feed().attach(shared_from_this(), codec))
        g_logger->error("media engine: peer {} has no {} encoder; it sends no picture", handle_,
                        codecName(codec));
    g_logger->info("media engine: peer {} sends the screen as {} (payload type {})", handle_,
                   codecName(codec), payloadType);
}

void Peer::pushEncoded(GstSample *sample) {
    if (!connected_.load(std::memory_order_relaxed))
        return;  // webrtcbin would block it anyway until the transport is up
    std::lock_guard<std::mutex> lock(mediaMutex_);
    if (!appsrc_)
        return;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstCaps *caps = gst_sample_get_caps(sample);
    if (!buffer || !caps)
        return;
    const bool keyFrame = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    const int64_t now = nowNs();
    if (waitingKeyFrame_) {
        if (!keyFrame) {
            if (now - lastKeyRequest_ > kKeyRequestGapNs) {
                lastKeyRequest_ = now;
                Engine::instance().feed().requestKeyFrame(sendCodec_);
            }
            return;
        }
        waitingKeyFrame_ = false;
    }
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(appsrc_)) >= kMaxQueuedUnits) {
        // This peer is slow: drop here rather than stall the encoder for everybody; it resumes at the
        // next key frame, which it asks for.
        if (droppedUnits_++ % 100 == 0)
            g_logger->info("media engine: peer {} is slow; dropping its stream until the next key frame",
                           handle_);
        waitingKeyFrame_ = true;
        if (now - lastKeyRequest_ > kKeyRequestGapNs) {
            lastKeyRequest_ = now;
            Engine::instance().feed().requestKeyFrame(sendCodec_);
        }
        return;
    }
    pushToSource(appsrc_, sentCaps_, buffer, caps);
    if (!mediaStarted_.exchange(true))
        onInbound();  // the remote's reports start with our stream
}

void Peer::buildSoundBranch(int payloadType) {
    GstCaps *rtpCaps = gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio",
                                           "encoding-name", G_TYPE_STRING, "OPUS", "payload", G_TYPE_INT,
                                           payloadType, "clock-rate", G_TYPE_INT, 48000, nullptr);
    GstElement *src =
        addSendingBranch("rtpopuspay", rtpCaps, rtpCaps, [&](GstElement *appsrc, GstElement *pay) {
            // A slow peer loses its oldest sound, never holds up the hub for the others.
            g_object_set(appsrc, "max-time", kMaxQueuedSoundNs, nullptr);
            gst_util_set_object_arg(G_OBJECT(appsrc), "leaky-type", "downstream");
            g_object_set(pay, "pt", static_cast<guint>(payloadType), nullptr);
        });
    gst_caps_unref(rtpCaps);
    if (!src)
        return;
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        soundSrc_ = src;
    }
    soundBranchBuilt_ = true;
    Engine::instance().sound().attach(shared_from_this());
    g_logger->info(
        "media engine: peer {} sends the share's sound, when it has one, as Opus (payload type {})", handle_,
        payloadType);
}

void Peer::pushSound(GstSample *sample) {
    if (!connected_.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> lock(mediaMutex_);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (soundSrc_ && buffer)
        pushToSource(soundSrc_, soundCaps_, buffer, gst_sample_get_caps(sample));
}

void Peer::addReceiveOnly(GstCaps *caps) {
    GstWebRTCRTPTransceiver *transceiver = nullptr;
    g_signal_emit_by_name(webrtc_, "add-transceiver", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_RECVONLY, caps,
                          &transceiver);
    gst_caps_unref(caps);
    if (transceiver)
        gst_object_unref(transceiver);
}

void Peer::addSoundReceiver() {
    GstCaps *caps =
        gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio", "encoding-name",
                            G_TYPE_STRING, "OPUS", "payload", G_TYPE_INT, kOfferedOpusPayload, "clock-rate",
                            G_TYPE_INT, 48000, "encoding-params", G_TYPE_STRING, "2", nullptr);
    addReceiveOnly(caps);
    soundBranchBuilt_ = true;
}

void Peer::holdPictureToClock() {
    // With sound, picture and sound are held to the clock, where the jitter buffers' lip-sync (from
    // the sender reports) keeps them in step; a picture alone is shown as soon as it is decoded.
    if (soundCame_ && frameSink_)
        g_object_set(frameSink_.get(), "sync", TRUE, nullptr);
}

void Peer::setHearing(double volume, bool muted) {
    hearVolume_ = volume;
    hearMuted_ = muted;
    std::lock_guard<std::mutex> lock(mediaMutex_);
    applyHearing();
}

void Peer::applyHearing() {
    if (hearLevel_)
        g_object_set(hearLevel_.get(), "volume", hearVolume_.load(), "mute", hearMuted_.load() ? TRUE : FALSE,
                     nullptr);
}

void Peer::requestKeyFrame() {
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        waitingKeyFrame_ = true;
        lastKeyRequest_ = nowNs();
    }
    if (sendCodec_ != VideoCodec::None)
        Engine::instance().feed().requestKeyFrame(sendCodec_);
}

GstPadProbeReturn Peer::onUpstreamEventProbe(GstPad *, GstPadProbeInfo *info, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && gst_video_event_is_force_key_unit(event) && self->sendCodec_ != VideoCodec::None)
        Engine::instance().feed().requestKeyFrame(self->sendCodec_);  // picture loss or full intra request
    return GST_PAD_PROBE_OK;
}

// ---------------------------------------------------------------- receiving branch

void Peer::addReceiveTransceiver(const SdpMedia *media) {
    GstCaps *caps;
    if (media) {
        caps = codecCaps(media->codec, media->payloadType, media->profileLevelId);
    } else {
        VideoCodec first = g_offerFirst.load();
        VideoCodec second = first == VideoCodec::H264 ? VideoCodec::VP8 : VideoCodec::H264;
        caps = codecCaps(first, first == VideoCodec::H264 ? 102 : 96, "");
        gst_caps_append(caps, codecCaps(second, second == VideoCodec::H264 ? 102 : 96, ""));
    }
    addReceiveOnly(caps);
    receiveTransceiverAdded_ = true;
}

void Peer::onPadAdded(GstPad *pad) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    std::string encoding;
    if (caps && gst_caps_get_size(caps) > 0) {
        const gchar *name = gst_structure_get_string(gst_caps_get_structure(caps, 0), "encoding-name");
        if (name)
            encoding = name;
    }
    if (caps)
        gst_caps_unref(caps);
    std::string description;
    const std::string tail =
        " ! videoconvert ! video/x-raw,format=I420 ! appsink name=frames sync=false max-buffers=2 drop=true";
    if (encoding == "H264")
        description =
            "rtph264depay request-keyframe=true wait-for-keyframe=true ! h264parse ! avdec_h264 "
            "thread-type=slice" +
            tail;
    else if (encoding == "VP8")
        description = "rtpvp8depay request-keyframe=true wait-for-keyframe=true ! vp8dec" + tail;
    else if (encoding == "OPUS") {
        bool toCallback = false;
        frames_.locked([&] { toCallback = sound_.fn != nullptr; });
        description = "rtpopusdepay ! opusdec plc=true ! audioconvert ! audioresample ! ";
        description += toCallback ? "audio/x-raw,format=S16LE,rate=48000,channels=2,layout=interleaved ! "
                                    "appsink name=sound sync=true max-buffers=50 drop=true"
                                  : "volume name=hear ! " + soundOutput(handle_);
    } else
        description = "fakesink sync=false async=false";
    GError *error = nullptr;
    GstElement *bin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (!bin || error) {
        g_logger->error(
            "media engine: peer {} cannot decode {}: {}; install gstreamer1.0-libav and "
            "gstreamer1.0-plugins-good",
            handle_, encoding, error ? error->message : "unknown error");
        g_clear_error(&error);
        if (bin)
            gst_object_unref(gst_object_ref_sink(bin));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        if (closing_ || !pipeline_) {
            gst_object_unref(gst_object_ref_sink(bin));
            return;
        }
        receiveBranchBuilt_ = true;
    }
    if (GstElement *sink = gst_bin_get_by_name(GST_BIN(bin), "frames")) {
        g_object_set(sink, "emit-signals", TRUE, nullptr);
        g_signal_connect(sink, "new-sample", G_CALLBACK(onDecodedSampleCb), this);
        std::lock_guard<std::mutex> lock(mediaMutex_);
        frameSink_ = GstRef<GstElement>(sink);
        holdPictureToClock();
    }
    if (encoding == "OPUS") {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        soundCame_ = true;
        holdPictureToClock();
        // None when a callback takes the sound.
        hearLevel_ = GstRef<GstElement>(gst_bin_get_by_name(GST_BIN(bin), "hear"));
        applyHearing();
    }
    if (GstElement *sound = gst_bin_get_by_name(GST_BIN(bin), "sound")) {
        g_object_set(sound, "emit-signals", TRUE, nullptr);
        g_signal_connect(sound, "new-sample", G_CALLBACK(onDecodedSoundCb), this);
        gst_object_unref(sound);
    }
    gst_bin_add(GST_BIN(pipeline_), bin);
    gst_element_sync_state_with_parent(bin);
    GstPad *binSink = gst_element_get_static_pad(bin, "sink");
    if (gst_pad_link(pad, binSink) != GST_PAD_LINK_OK)
        g_logger->error("media engine: peer {} cannot link its {} stream", handle_, encoding);
    gst_object_unref(binSink);
    g_logger->info("media engine: peer {} receives {}", handle_,
                   encoding.empty() ? "an unknown stream" : encoding);
}

GstFlowReturn Peer::onDecodedSampleCb(GstElement *sink, gpointer data) {
    GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_FLUSHING;
    static_cast<Peer *>(data)->onDecodedSample(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstFlowReturn Peer::onDecodedSoundCb(GstElement *sink, gpointer data) {
    GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_FLUSHING;
    static_cast<Peer *>(data)->onDecodedSound(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void Peer::onDecodedSound(GstSample *sample) {
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const int frames = static_cast<int>(map.size / (2 * sizeof(int16_t)));
    const auto *samples = reinterpret_cast<const int16_t *>(map.data);
    onInbound();
    if (frames > 0)
        frames_.deliver([&] { sound_(samples, frames, 2, 48000); });
    gst_buffer_unmap(buffer, &map);
}

void Peer::onDecodedSample(GstSample *sample) {
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)
        return;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return;
    const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const uint8_t *y = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const uint8_t *u = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 1));
    const uint8_t *v = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 2));
    const int sy = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), su = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 1),
              sv = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 2);
    const size_t ySize = static_cast<size_t>(w) * h, cSize = static_cast<size_t>(cw) * ch;
    const bool packed = sy == w && su == cw && sv == cw && u == y + ySize && v == u + cSize;
    if (!packed) {
        // Callers may read the picture as one packed block: lay the planes back to back.
        packed_.resize(ySize + 2 * cSize);
        uint8_t *out = packed_.data();
        for (int r = 0; r < h; ++r)
            std::memcpy(out + static_cast<size_t>(r) * w, y + static_cast<size_t>(r) * sy, w);
        for (int r = 0; r < ch; ++r) {
            std::memcpy(out + ySize + static_cast<size_t>(r) * cw, u + static_cast<size_t>(r) * su, cw);
            std::memcpy(out + ySize + cSize + static_cast<size_t>(r) * cw, v + static_cast<size_t>(r) * sv,
                        cw);
        }
        y = out;
        u = out + ySize;
        v = out + ySize + cSize;
    }
    framesDelivered_++;
    onInbound();
    frames_.deliver([&] { frame_(y, u, v, 0, w, cw, cw, 0, w, h); });
    gst_video_frame_unmap(&frame);
}

// ---------------------------------------------------------------- signalling events

void Peer::onLocalDescription(GstWebRTCSessionDescription *desc, bool offer) {
    if (tornDown_ || !webrtc_)
        return;
    GstPromise *promise = gst_promise_new();
    g_signal_emit_by_name(webrtc_, "set-local-description", desc, promise);
    gst_promise_unref(promise);
    localMids_.clear();
    for (guint i = 0; i < gst_sdp_message_medias_len(desc->sdp); ++i) {
        const gchar *mid = gst_sdp_media_get_attribute_val(gst_sdp_message_get_media(desc->sdp, i), "mid");
        localMids_.push_back(mid ? mid : "");
    }
    gchar *text = gst_sdp_message_as_text(desc->sdp);
    const char *type = offer ? "offer" : "answer";
    events_.deliver([&] { sdp_(type, text); });
    g_free(text);
}

void Peer::onNegotiationNeededCb(GstElement *, gpointer) {
    // Negotiation is driven by the caller's CreateOffer/CreateAnswer, as the contract has it.
}

void Peer::onIceCandidateCb(GstElement *, guint mline, gchar *candidate, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    if (!candidate || !*candidate || self->closing_)
        return;
    auto peer = self->shared_from_this();
    std::string line = candidate;
    Engine::instance().post([peer, line, mline] {
        if (peer->tornDown_)
            return;
        std::string mid = mline < peer->localMids_.size() ? peer->localMids_[mline] : std::string();
        peer->events_.deliver([&] { peer->ice_(line.c_str(), static_cast<int>(mline), mid.c_str()); });
    });
}

void Peer::onStateNotifyCb(GstElement *, GParamSpec *, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    if (self->closing_)
        return;
    auto peer = self->shared_from_this();
    Engine::instance().post([peer] { peer->onStateChanged(); });
}

void Peer::onStateChanged() {
    if (tornDown_ || !webrtc_)
        return;
    GstWebRTCPeerConnectionState state;
    GstWebRTCICEConnectionState ice;
    g_object_get(webrtc_, "connection-state", &state, "ice-connection-state", &ice, nullptr);
    if (state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED) {
        reportClosed("the connection failed (ICE or DTLS)");
        return;
    }
    if (ice == GST_WEBRTC_ICE_CONNECTION_STATE_FAILED) {
        reportClosed("ICE failed");
        return;
    }
    if (state == GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED || ice == GST_WEBRTC_ICE_CONNECTION_STATE_CLOSED) {
        reportClosed("the connection closed");
        return;
    }
    const bool up =
        ice == GST_WEBRTC_ICE_CONNECTION_STATE_CONNECTED || ice == GST_WEBRTC_ICE_CONNECTION_STATE_COMPLETED;
    if (up && !connected_) {
        onInbound();
        connected_ = true;
        g_logger->info("media engine: peer {} connected", handle_);
        if (sendBranchBuilt_)
            requestKeyFrame();  // a joining viewer starts with a key frame
    }
}

void Peer::checkLiveness() {
    // Without a video section nothing is sent periodically (an idle data channel is silent); the
    // closing of the channel and of the transport tells of such a remote.
    if (!connected_ || closedReported_ || tornDown_ || !(sendBranchBuilt_ || receiveTransceiverAdded_))
        return;
    const bool media = mediaStarted_.load(std::memory_order_relaxed);
    if (nowNs() - lastInbound_.load(std::memory_order_relaxed) >
        (media ? kSilenceLimitNs : kSilenceBeforeMediaNs))
        reportClosed(media ? "nothing heard from the remote for 4 s" : "no media for 10 s after connecting");
}

gboolean Peer::onLivenessTimer(gpointer data) {
    static_cast<Peer *>(data)->checkLiveness();
    return G_SOURCE_CONTINUE;
}

gboolean Peer::onBusMessage(GstBus *, GstMessage *message, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError *error = nullptr;
            gchar *debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            g_logger->error("media engine: peer {} failed in {}: {} ({})", self->handle_,
                            GST_OBJECT_NAME(message->src), error ? error->message : "?", debug ? debug : "");
            g_clear_error(&error);
            g_free(debug);
            self->reportClosed("media error");
            break;
        }
        case GST_MESSAGE_WARNING: {
            GError *error = nullptr;
            gst_message_parse_warning(message, &error, nullptr);
            g_logger->warn("media engine: peer {}: {}", self->handle_, error ? error->message : "?");
            g_clear_error(&error);
            break;
        }
        case GST_MESSAGE_LATENCY:
            if (self->pipeline_)
                gst_bin_recalculate_latency(GST_BIN(self->pipeline_));
            break;
        default:
            break;
    }
    return G_SOURCE_CONTINUE;
}

void Peer::onPadAddedCb(GstElement *, GstPad *pad, gpointer data) {
    static_cast<Peer *>(data)->onPadAdded(pad);
}

void Peer::onDeepElementAddedCb(GstBin *, GstBin *, GstElement *element, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    GstElementFactory *factory = gst_element_get_factory(element);
    if (!factory)
        return;
    const gchar *name = GST_OBJECT_NAME(factory);
    if (g_str_equal(name, "nicesrc")) {
        // A LAN product maps no router ports: UPnP would only send SSDP multicast (and leaks in
        // libgupnp).
        GObject *agent = nullptr;
        g_object_get(element, "agent", &agent, nullptr);
        if (agent) {
            if (g_object_class_find_property(G_OBJECT_GET_CLASS(agent), "upnp"))
                g_object_set(agent, "upnp", FALSE, nullptr);
            g_object_unref(agent);
        }
        GstPad *pad = gst_element_get_static_pad(element, "src");
        if (pad) {
            gst_pad_add_probe(
                pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                onInboundProbe, self, nullptr);
            gst_object_unref(pad);
        }
    } else if (g_str_equal(name, "rtpsession")) {
        // Frequent reports keep a quiet but live remote audible to the vanishing-peer watch (the
        // default of 5 s is longer than its limit).
        g_object_set(element, "rtcp-min-interval", static_cast<guint64>(500 * GST_MSECOND), nullptr);
    } else if (g_str_equal(name, "sctpenc") || g_str_equal(name, "sctpdec")) {
        // 1.22 picks association ids at random, and two webrtcbins of one process that draw the same
        // one share an association and hang. Ours are unique within the process.
        int id = self->association_.load();
        if (id == 0) {
            int fresh = g_nextAssociation.fetch_add(1) % 65535 + 1;
            id = self->association_.compare_exchange_strong(id, fresh) ? fresh : id;
        }
        g_object_set(element, "sctp-association-id", static_cast<guint>(id), nullptr);
    }
}

GstPadProbeReturn Peer::onInboundProbe(GstPad *, GstPadProbeInfo *info, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    self->onInbound();
    if (!self->mediaStarted_.load(std::memory_order_relaxed)) {
        GstBuffer *buffer = nullptr;
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER)
            buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        else if (GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info))
            buffer = gst_buffer_list_length(list) > 0 ? gst_buffer_list_get(list, 0) : nullptr;
        guint8 first = 0;
        // RTP and RTCP start with 128..191, DTLS records (the data channel) with 20..63.
        if (buffer && gst_buffer_extract(buffer, 0, &first, 1) == 1 && first >= 128 && first <= 191)
            self->mediaStarted_.store(true, std::memory_order_relaxed);
    }
    return GST_PAD_PROBE_OK;
}

void Peer::reportClosed(const char *reason) {
    if (closedReported_.exchange(true))
        return;
    if (!closing_)
        g_logger->info("media engine: peer {} closed: {}", handle_, reason);
    auto self = shared_from_this();
    Engine::instance().post([self] { self->events_.deliver([&] { self->closed_(); }); });
}

// ---------------------------------------------------------------- data channel

void Peer::createDataChannel() {
    GstStructure *options = gst_structure_new("options", "ordered", G_TYPE_BOOLEAN, TRUE, nullptr);
    GstWebRTCDataChannel *channel = nullptr;
    g_signal_emit_by_name(webrtc_, "create-data-channel", "zushare", options, &channel);
    gst_structure_free(options);
    if (!channel) {
        g_logger->error("media engine: peer {} could not create its data channel", handle_);
        return;
    }
    adoptDataChannel(channel);
}

void Peer::adoptDataChannel(GstWebRTCDataChannel *channel) {
    {
        std::unique_lock<std::shared_mutex> lock(channelMutex_);
        if (channel_ || closing_) {
            g_object_unref(channel);
            return;
        }
        channel_ = channel;
    }
    g_signal_connect(channel, "on-open", G_CALLBACK(onChannelOpenCb), this);
    g_signal_connect(channel, "on-close", G_CALLBACK(onChannelCloseCb), this);
    g_signal_connect(channel, "on-error", G_CALLBACK(onChannelErrorCb), this);
    g_signal_connect(channel, "on-message-data", G_CALLBACK(onChannelDataCb), this);
    g_signal_connect(channel, "on-message-string", G_CALLBACK(onChannelStringCb), this);
    GstWebRTCDataChannelState state;
    g_object_get(channel, "ready-state", &state, nullptr);
    if (state == GST_WEBRTC_DATA_CHANNEL_STATE_OPEN)
        fireReady();
}

void Peer::onDataChannelCb(GstElement *, GstWebRTCDataChannel *channel, gpointer data) {
    // The remote's channel arrives here already open: adopt it and attach the handlers at once.
    static_cast<Peer *>(data)->adoptDataChannel(GST_WEBRTC_DATA_CHANNEL(g_object_ref(channel)));
}

void Peer::fireReady() {
    channelOpen_ = true;
    if (readyFired_.exchange(true))
        return;
    g_logger->info("media engine: peer {} data channel open", handle_);
    auto self = shared_from_this();
    Engine::instance().post([self] { self->events_.deliver([&] { self->ready_(); }); });
}

void Peer::onChannelOpenCb(GstWebRTCDataChannel *, gpointer data) {
    static_cast<Peer *>(data)->fireReady();
}

void Peer::onChannelCloseCb(GstWebRTCDataChannel *, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    self->channelOpen_ = false;
    if (!self->closing_)
        self->reportClosed("the remote closed the data channel");
}

void Peer::onChannelErrorCb(GstWebRTCDataChannel *, GError *error, gpointer data) {
    auto *self = static_cast<Peer *>(data);
    g_logger->warn("media engine: peer {} data channel error: {}", self->handle_,
                   error ? error->message : "?");
}

void Peer::onChannelDataCb(GstWebRTCDataChannel *, GBytes *bytes, gpointer data) {
    gsize size = 0;
    const void *p = bytes ? g_bytes_get_data(bytes, &size) : nullptr;
    static_cast<Peer *>(data)->enqueueMessage(static_cast<const uint8_t *>(p), size);
}

void Peer::onChannelStringCb(GstWebRTCDataChannel *, gchar *text, gpointer data) {
    static_cast<Peer *>(data)->enqueueMessage(reinterpret_cast<const uint8_t *>(text),
                                              text ? std::strlen(text) : 0);
}

void Peer::enqueueMessage(const uint8_t *data, size_t size) {
    onInbound();
    if (size > ZUWEBRTC_RECEIVE_BUFFER) {
        g_logger->warn(
            "media engine: peer {}: incoming message of {} bytes dropped (receive buffer holds {})", handle_,
            size, ZUWEBRTC_RECEIVE_BUFFER);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (stopDelivery_)
            return;
        if (queuedBytes_ + size > kMaxQueuedMessageBytes || queue_.size() >= kMaxQueuedMessages) {
            if (droppedMessages_++ % 1000 == 0)
                g_logger->warn(
                    "media engine: peer {}: the receiver does not keep up; {} message(s) dropped so far",
                    handle_, droppedMessages_);
            return;
        }
        queue_.push_back(QueuedMessage{std::vector<uint8_t>(data, data + size), nowNs()});
        queuedBytes_ += size;
    }
    queueCv_.notify_one();
}

void Peer::deliveryLoop() {
    nameThisThread("zu-delivery");
    std::unique_lock<std::mutex> lock(queueMutex_);
    while (!stopDelivery_) {
        if (queue_.empty()) {
            queueCv_.wait(lock);
            continue;
        }
        std::vector<uint8_t> message = std::move(queue_.front().bytes);
        const int64_t queuedNs = queue_.front().queuedNs;
        queue_.pop_front();
        lock.unlock();
        deliveryWaitNs_ += nowNs() - queuedNs;
        bool delivered = false;
        // Messages that come before the first receiver is registered (it is made when the channel
        // opens) wait for it; once a receiver has let go, they are dropped.
        while (!delivered) {
            bool gateOpen = data_.isOpen();
            bool dropped = false;
            data_.deliver([&] {
                if (!dataCb_ || !dataBuffer_) {
                    dropped = dataEverRegistered_;
                    return;
                }
                std::memcpy(dataBuffer_, message.data(), message.size());
                dataCb_(dataBuffer_, static_cast<int>(message.size()), dataUser_);
                delivered = true;
            });
            if (delivered || dropped || !gateOpen)
                break;
            std::unique_lock<std::mutex> wait(queueMutex_);
            if (stopDelivery_)
                return;
            queueCv_.wait_for(wait, std::chrono::milliseconds(50));
            if (stopDelivery_)
                return;
        }
        lock.lock();
        queuedBytes_ -= std::min(queuedBytes_, message.size());
    }
}

}  // namespace zuengine
