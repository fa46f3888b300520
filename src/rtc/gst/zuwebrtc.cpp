// The C contract of the media engine, on the peers of the engine's registry.

#include "rtc/zuwebrtc.h"

#include <string>

#include "core/logger.h"
#include "rtc/gst/engine.h"
#include "rtc/gst/feedhub.h"
#include "rtc/gst/peer.h"
#include "rtc/gst/soundhub.h"

using zuengine::Engine;
using zuengine::Peer;

namespace {

template <typename Fn>
int withPeer(int pc, Fn &&fn) {
    std::shared_ptr<Peer> peer = pc > 0 ? Engine::instance().findPeer(pc) : nullptr;
    if (!peer)
        return ZUWEBRTC_EHANDLE;
    return fn(*peer);
}

// The callback registrations of one peer, all alike.
template <typename Callback>
int registerOn(int pc, void (Peer::*keep)(Callback, void *, int), Callback callback, void *user_data,
               int tag) {
    return withPeer(pc, [&](Peer &p) {
        (p.*keep)(callback, user_data, tag);
        return ZUWEBRTC_OK;
    });
}

}  // namespace

extern "C" {

int PrepareMediaEngine(void) {
    Engine::instance();
    return ZUWEBRTC_OK;
}

int CreatePeerConnection(int, int, int, int, int receive_only) {
    Engine &engine = Engine::instance();
    auto peer = std::make_shared<Peer>(receive_only != 0);
    const int handle = engine.addPeer(peer);
    if (handle <= 0)
        return ZUWEBRTC_EINTERNAL;
    peer->setHandle(handle);
    // Built on the engine thread; every later operation is queued behind it.
    engine.post([peer] {
        if (!peer->build())
            g_logger->error("media engine: peer {} could not be built", peer->handle());
    });
    g_logger->info("media engine: peer {} created ({})", handle, receive_only ? "receiving" : "sending");
    return handle;
}

int AddStream(int pc, int video, int audio) {
    return withPeer(pc, [&](Peer &p) {
        const int result = video ? p.addStream() : ZUWEBRTC_OK;
        return result == ZUWEBRTC_OK && audio ? p.addSound() : result;
    });
}

int AddDataChannel(int pc) {
    return withPeer(pc, [](Peer &p) { return p.addDataChannel(); });
}

int CreateOffer(int pc) {
    return withPeer(pc, [](Peer &p) { return p.createOffer(); });
}

int CreateAnswer(int pc) {
    return withPeer(pc, [](Peer &p) { return p.createAnswer(); });
}

int SetRemoteDescription(int pc, const char *type, const char *sdp) {
    return withPeer(pc, [&](Peer &p) {
        if (!type || !sdp)
            return ZUWEBRTC_EARG;
        return p.setRemoteDescription(type, sdp);
    });
}

int AddIceCandidate(int pc, const char *candidate, int sdp_mline_index, const char *sdp_mid) {
    return withPeer(pc, [&](Peer &p) {
        if (!candidate)
            return ZUWEBRTC_EARG;
        return p.addIceCandidate(candidate, sdp_mline_index, sdp_mid ? sdp_mid : "");
    });
}

int SendDataViaDataChannel(int pc, const uint8_t *data, int length) {
    return withPeer(pc, [&](Peer &p) { return p.sendData(data, length); });
}

int ClosePeerConnection(int pc) {
    std::shared_ptr<Peer> peer = pc > 0 ? Engine::instance().takePeer(pc) : nullptr;
    if (!peer)
        return ZUWEBRTC_EHANDLE;
    peer->close();
    Engine::instance().post([peer] { peer->teardown(); });
    g_logger->info("media engine: peer {} closed by the program", pc);
    return ZUWEBRTC_OK;
}

int RegisterOnLocalSdpReadytoSend(int pc, OnLocalSdpReadytoSend callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerSdp, callback, user_data, tag);
}

int RegisterOnIceCandiateReadytoSend(int pc, OnIceCandiateReadytoSend callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerIce, callback, user_data, tag);
}

int RegisterOnRemoteSoundReady(int pc, OnRemoteSoundReady callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerSound, callback, user_data, tag);
}

int SetRemoteSoundVolume(int pc, double volume, int muted) {
    if (!(volume >= 0.0 && volume <= 1.0))
        return ZUWEBRTC_EARG;
    return withPeer(pc, [&](Peer &p) {
        p.setHearing(volume, muted != 0);
        return ZUWEBRTC_OK;
    });
}

int ShareSoundAvailable(void) {
    Engine::instance();
    return zuengine::SoundHub::available() ? 1 : 0;
}

int SetShareSound(int source) {
    if (source < ZUWEBRTC_SOUND_NONE || source > ZUWEBRTC_SOUND_BEEPS)
        return ZUWEBRTC_EARG;
    Engine::instance().sound().setSource(static_cast<zuengine::SoundHub::Source>(source));
    return ZUWEBRTC_OK;
}

int MuteShareSound(int muted) {
    Engine::instance().sound().setMuted(muted != 0);
    return ZUWEBRTC_OK;
}

int ShareSyntheticPicture(int width, int height, int fps) {
    if (width == 0 && height == 0 && fps == 0) {
        Engine::instance().feed().forceSynthetic(false, 0, 0, 0);
        return ZUWEBRTC_OK;
    }
    if (width < 16 || height < 16 || width > 4096 || height > 4096 || fps < 1 || fps > 60)
        return ZUWEBRTC_EARG;
    Engine::instance().feed().forceSynthetic(true, width, height, fps);
    return ZUWEBRTC_OK;
}

int RegisterOnRemoteI420FrameReady(int pc, OnRemoteI420FrameReady callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerFrame, callback, user_data, tag);
}

int RegisterOnLocalDataChannelReady(int pc, OnLocalDataChannelReady callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerReady, callback, user_data, tag);
}

int RegisterOnPeerClosed(int pc, OnPeerClosed callback, void *user_data, int tag) {
    return registerOn(pc, &Peer::registerClosed, callback, user_data, tag);
}

int RegisterOnDataFromDataChannelReady(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer,
                                       void *user_data, int tag) {
    return withPeer(pc, [&](Peer &p) {
        if (callback && !buffer)
            return ZUWEBRTC_EARG;
        p.registerData(callback, buffer, user_data, tag);
        return ZUWEBRTC_OK;
    });
}

}  // extern "C"
