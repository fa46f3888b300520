#pragma once

// One peer connection: a pipeline of its own around a webrtcbin, with the sending branch (the
// shared encoder's access units through a payloader) or the receiving branch (depayloader,
// decoder, I420 frames), the data channel, and the callbacks of the C contract.

#include <gst/gst.h>
#define GST_USE_UNSTABLE_API
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "rtc/gst/callbackgate.h"
#include "rtc/gst/gstref.h"
#include "rtc/gst/sdpcheck.h"
#include "rtc/zuwebrtc.h"

namespace zuengine {

class Peer : public std::enable_shared_from_this<Peer> {
public:
    explicit Peer(bool receiveOnly);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    void setHandle(int handle) { handle_ = handle; }
    int handle() const { return handle_; }
    bool receiveOnly() const { return receiveOnly_; }

    // Engine thread.
    bool build();
    void teardown();

    // Caller threads: check the arguments, then queue the work on the engine thread.
    int addStream();
    // Sending peer: answers an offer's audio section with the shared sound. Receiving peer: offers
    // to receive sound.
    int addSound();
    int addDataChannel();
    int createOffer();
    int createAnswer();
    int setRemoteDescription(const std::string &type, const std::string &sdp);
    int addIceCandidate(const std::string &candidate, int mlineIndex, const std::string &mid);
    int sendData(const uint8_t *data, int length, bool enforceLimit = true);
    // Shuts every callback gate; after it returns no callback of this peer runs.
    void close();

    void registerSdp(OnLocalSdpReadytoSend cb, void *user, int tag) { keep(events_, sdp_, cb, user, tag); }
    void registerIce(OnIceCandiateReadytoSend cb, void *user, int tag) { keep(events_, ice_, cb, user, tag); }
    void registerFrame(OnRemoteI420FrameReady cb, void *user, int tag) {
        keep(frames_, frame_, cb, user, tag);
    }
    void registerReady(OnLocalDataChannelReady cb, void *user, int tag) {
        keep(events_, ready_, cb, user, tag);
    }
    void registerClosed(OnPeerClosed cb, void *user, int tag) { keep(events_, closed_, cb, user, tag); }
    void registerData(OnDataFromDataChannelReady cb, uint8_t *buffer, void *user, int tag);
    void registerSound(OnRemoteSoundReady cb, void *user, int tag) { keep(frames_, sound_, cb, user, tag); }
    // Any thread: the level of received sound that plays on the default output (no callback).
    void setHearing(double volume, bool muted);

    // Encoder threads: one encoded access unit of the stream this peer sends.
    void pushEncoded(GstSample *sample);
    // The sound hub's thread: one Opus packet of the shared sound.
    void pushSound(GstSample *sample);

    // Testing and benchmarks.
    uint64_t framesDelivered() const { return framesDelivered_.load(); }
    // The time data channel messages waited in all for the receiver's thread.
    int64_t deliveryWaitNs() const { return deliveryWaitNs_.load(); }
    VideoCodec sendCodec() const { return sendCodec_; }

private:
    // A callback with the user data and tag it was registered with; calls it with them, if set.
    template <typename Fn>
    struct Registered {
        Fn fn = nullptr;
        void *user = nullptr;
        int tag = 0;
        template <typename... Args>
        void operator()(Args... args) const {
            if (fn)
                fn(args..., user, tag);
        }
    };
    template <typename Fn>
    static void keep(CallbackGate &gate, Registered<Fn> &slot, Fn fn, void *user, int tag) {
        gate.locked([&] { slot = Registered<Fn>{fn, user, tag}; });
    }

    struct PendingCandidate {
        std::string candidate;
        int mline;
    };

    // Engine thread.
    // appsrc ! payloader ! capsfilter(rtpCaps) into a new sending transceiver of webrtcbin; the
    // appsrc, or null (logged) when an element is missing. configure sets what differs per stream.
    GstElement *addSendingBranch(const char *payloader, GstCaps *rtpCaps, GstCaps *preferences,
                                 const std::function<void(GstElement *src, GstElement *pay)> &configure);
    // Under mediaMutex_: a copy of buffer into a sending branch, with caps when they changed.
    static void pushToSource(GstElement *src, GstCaps *&sentCaps, GstBuffer *buffer, GstCaps *caps);
    void buildSendBranch(VideoCodec codec, int payloadType);
    void addReceiveTransceiver(const SdpMedia *media);
    // Adds a receive-only transceiver for caps, which it takes.
    void addReceiveOnly(GstCaps *caps);
    void buildSoundBranch(int payloadType);
    void addSoundReceiver();
    void createDataChannel();
    void adoptDataChannel(GstWebRTCDataChannel *channel);
    void createDescription(bool offer);
    void onLocalDescription(GstWebRTCSessionDescription *desc, bool offer);
    void onStateChanged();
    void checkLiveness();
    void applyCandidate(const PendingCandidate &c);
    void reportClosed(const char *reason);
    void fireReady();
    void requestKeyFrame();
    // Under mediaMutex_, from streaming threads.
    void holdPictureToClock();
    void applyHearing();

    // Receive branch (streaming threads).
    void onPadAdded(GstPad *pad);
    void onDecodedSample(GstSample *sample);
    void onDecodedSound(GstSample *sample);
    void onInbound() { lastInbound_.store(nowNs(), std::memory_order_relaxed); }

    // Data channel (webrtcbin's threads) and the delivery thread.
    void enqueueMessage(const uint8_t *data, size_t size);
    void deliveryLoop();

    static int64_t nowNs();

    // GLib trampolines.
    static void onDescriptionCreated(GstPromise *promise, gpointer ctx);
    static void onNegotiationNeededCb(GstElement *, gpointer);
    static void onIceCandidateCb(GstElement *, guint mline, gchar *candidate, gpointer self);
    static void onStateNotifyCb(GstElement *, GParamSpec *, gpointer self);
    static void onPadAddedCb(GstElement *, GstPad *pad, gpointer self);
    static void onDataChannelCb(GstElement *, GstWebRTCDataChannel *channel, gpointer self);
    static void onDeepElementAddedCb(GstBin *, GstBin *, GstElement *element, gpointer self);
    static void onChannelOpenCb(GstWebRTCDataChannel *, gpointer self);
    static void onChannelCloseCb(GstWebRTCDataChannel *, gpointer self);
    static void onChannelErrorCb(GstWebRTCDataChannel *, GError *error, gpointer self);
    static void onChannelDataCb(GstWebRTCDataChannel *, GBytes *data, gpointer self);
    static void onChannelStringCb(GstWebRTCDataChannel *, gchar *text, gpointer self);
    static GstFlowReturn onDecodedSampleCb(GstElement *sink, gpointer self);
    static GstFlowReturn onDecodedSoundCb(GstElement *sink, gpointer self);
    static GstPadProbeReturn onInboundProbe(GstPad *, GstPadProbeInfo *, gpointer self);
    static GstPadProbeReturn onUpstreamEventProbe(GstPad *, GstPadProbeInfo *info, gpointer self);
    static gboolean onBusMessage(GstBus *, GstMessage *message, gpointer self);
    static gboolean onLivenessTimer(gpointer self);

    const bool receiveOnly_;
    int handle_ = 0;

    // Engine thread only.
    GstElement *pipeline_ = nullptr;
    GstElement *webrtc_ = nullptr;
    GSource *busWatch_ = nullptr;
    GSource *livenessTimer_ = nullptr;
    bool wantStream_ = false;
    bool wantDataChannel_ = false;
    bool haveRemote_ = false;
    bool sendBranchBuilt_ = false;
    bool receiveTransceiverAdded_ = false;
    bool wantSound_ = false;
    bool soundBranchBuilt_ = false;
    size_t remoteMediaCount_ = 0;
    size_t remoteCandidates_ = 0;  // before and after the description
    std::vector<PendingCandidate> pending_;
    std::vector<std::string> localMids_;
    bool tornDown_ = false;

    // Caller-side state.
    std::atomic<bool> madeOffer_{false};
    std::atomic<bool> gotOffer_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> closedReported_{false};
    std::atomic<bool> readyFired_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int64_t> lastInbound_{0};
    std::atomic<bool> mediaStarted_{false};  // RTP went out or RTP/RTCP came in: reports are due
    std::atomic<uint64_t> framesDelivered_{0};
    std::atomic<int> association_{0};  // SCTP association id shared by this peer's encoder and decoder

    // Sending branch, reached from encoder threads.
    std::mutex mediaMutex_;
    GstElement *appsrc_ = nullptr;  // owned by pipeline_; cleared before it stops
    GstCaps *sentCaps_ = nullptr;
    bool waitingKeyFrame_ = true;
    int64_t lastKeyRequest_ = 0;
    std::atomic<VideoCodec> sendCodec_{VideoCodec::None};
    uint64_t droppedUnits_ = 0;
    GstElement *soundSrc_ = nullptr;  // owned by pipeline_; under mediaMutex_
    GstCaps *soundCaps_ = nullptr;    // under mediaMutex_

    // Receiving branch.
    GstRef<GstElement> frameSink_;  // the decoded picture's sink; under mediaMutex_
    bool soundCame_ = false;        // picture and sound keep to the clock from then on; under mediaMutex_
    std::atomic<double> hearVolume_{1.0};
    std::atomic<bool> hearMuted_{false};
    GstRef<GstElement> hearLevel_;  // the played sound's volume element; under mediaMutex_
    std::vector<uint8_t> packed_;
    bool receiveBranchBuilt_ = false;  // under mediaMutex_

    // Data channel.
    std::shared_mutex channelMutex_;
    GstWebRTCDataChannel *channel_ = nullptr;
    std::atomic<bool> channelOpen_{false};

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    struct QueuedMessage {
        std::vector<uint8_t> bytes;
        int64_t queuedNs;
    };
    std::deque<QueuedMessage> queue_;
    std::atomic<int64_t> deliveryWaitNs_{0};
    size_t queuedBytes_ = 0;
    bool stopDelivery_ = false;
    std::thread deliveryThread_;

    // Callbacks, each family behind its gate.
    CallbackGate events_, frames_, data_;
    Registered<OnLocalSdpReadytoSend> sdp_;
    Registered<OnIceCandiateReadytoSend> ice_;
    Registered<OnLocalDataChannelReady> ready_;
    Registered<OnPeerClosed> closed_;
    Registered<OnRemoteI420FrameReady> frame_;
    Registered<OnRemoteSoundReady> sound_;
    bool dataEverRegistered_ = false;  // under the data gate
    uint64_t droppedMessages_ = 0;     // under queueMutex_
    OnDataFromDataChannelReady dataCb_ = nullptr;
    uint8_t *dataBuffer_ = nullptr;
    void *dataUser_ = nullptr;
};

}  // namespace zuengine
