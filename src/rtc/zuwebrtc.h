/* The media engine's C contract: peers, SDP and ICE, the screen stream, data channels and capture.
 * Peers and capturers are small positive int handles. Functions return 0 (or a handle) on success
 * and a negative ZUWEBRTC_E* code on failure; a call with an unknown or closed handle does nothing.
 * Callbacks run on the engine's own threads; strings are NUL-terminated UTF-8. */
#ifndef ZUWEBRTC_H
#define ZUWEBRTC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZUWEBRTC_OK 0
#define ZUWEBRTC_EHANDLE (-1)   /* unknown or closed handle */
#define ZUWEBRTC_EARG (-2)      /* bad argument: null pointer, malformed SDP or candidate */
#define ZUWEBRTC_ESIZE (-3)     /* message larger than ZUWEBRTC_MAX_MESSAGE */
#define ZUWEBRTC_ESTATE (-4)    /* not possible now: no data channel open, wrong kind of peer */
#define ZUWEBRTC_EINTERNAL (-5) /* the media framework failed */

#define ZUWEBRTC_MAX_MESSAGE 17408    /* largest data-channel message that may be sent */
#define ZUWEBRTC_RECEIVE_BUFFER 20480 /* size of the buffer given to RegisterOnDataFromDataChannelReady */

/* Callback types. The words the program does not read are still passed: "reserved" is 0 unless
 * said otherwise. user_data and tag are those given at registration. */
typedef void (*OnLocalSdpReadytoSend)(const char *type, const char *sdp, void *user_data, int tag);
typedef void (*OnIceCandiateReadytoSend)(const char *candidate, int sdp_mline_index, const char *sdp_mid,
                                         void *user_data, int tag);
/* I420: chroma planes have (height + 1) / 2 rows; the planes lie back to back in one buffer,
 * valid during the call only. */
typedef void (*OnRemoteI420FrameReady)(const uint8_t *y, const uint8_t *u, const uint8_t *v, int reserved1,
                                       int stride_y, int stride_u, int stride_v, int reserved2, int width,
                                       int height, void *user_data, int tag);
/* Decoded sound: interleaved signed 16-bit samples, frames × channels of them, valid during the
 * call only. */
typedef void (*OnRemoteSoundReady)(const int16_t *samples, int frames, int channels, int rate,
                                   void *user_data, int tag);
typedef void (*OnLocalDataChannelReady)(void *user_data, int tag);
typedef void (*OnPeerClosed)(void *user_data, int tag);
/* buffer is the registered receive buffer holding the message; length is its size in bytes. */
typedef void (*OnDataFromDataChannelReady)(uint8_t *buffer, int length, void *user_data);
/* A thumbnail of one source, once per source in source order. */
typedef void (*OnScreenSourceCaptured)(const uint8_t *y, const uint8_t *u, const uint8_t *v, int reserved1,
                                       int stride_y, int stride_u, int stride_v, int reserved2, int width,
                                       int height, int reserved3, int reserved4, const char *title,
                                       void *user_data);
/* The display that the screen stream captures is gone (its server ended): no new picture will come,
 * the last one stays on the stream. Called at most once per capturer. */
typedef void (*OnScreenSourceLost)(void *user_data);

/* Optional: starts the engine now and makes what a first peer needs (the process's DTLS certificate,
 * a few hundred milliseconds of work, and the decoders' plugins) in the background, so that a later
 * first call does not wait for them. Any other function starts the engine as well. */
int PrepareMediaEngine(void);

/* Peers. receive_only 1: a peer that receives a remote screen; 0: a peer that sends the screen. */
int CreatePeerConnection(int reserved1, int reserved2, int reserved3, int reserved4, int receive_only);
/* video 1 on a sending peer: it sends the screen. audio 1 on a sending peer: it answers an offer's
 * audio section (Opus) with the shared sound while SetShareSound has a source; an offer without one
 * is answered as without it. audio 1 on a receiving peer: its offer asks for sound (Opus, receive
 * only), delivered to RegisterOnRemoteSoundReady. */
int AddStream(int pc, int video, int audio);
/* The received sound of a receiving peer that asked for it and has no OnRemoteSoundReady plays on
 * the default output of the sound server, in step with the picture (none there: logged, and the
 * picture goes on). volume from 0 (silent) to 1 (as sent), muted 1: silent. May be called at any
 * time, also before the sound comes. */
int SetRemoteSoundVolume(int pc, double volume, int muted);
int AddDataChannel(int pc);
int CreateOffer(int pc);
int CreateAnswer(int pc);
int SetRemoteDescription(int pc, const char *type, const char *sdp);
int AddIceCandidate(int pc, const char *candidate, int sdp_mline_index, const char *sdp_mid);
int SendDataViaDataChannel(int pc, const uint8_t *data, int length);
/* After it returns, no callback of this peer runs any more. */
int ClosePeerConnection(int pc);

int RegisterOnLocalSdpReadytoSend(int pc, OnLocalSdpReadytoSend callback, void *user_data, int tag);
int RegisterOnIceCandiateReadytoSend(int pc, OnIceCandiateReadytoSend callback, void *user_data, int tag);
int RegisterOnRemoteI420FrameReady(int pc, OnRemoteI420FrameReady callback, void *user_data, int tag);
int RegisterOnLocalDataChannelReady(int pc, OnLocalDataChannelReady callback, void *user_data, int tag);
int RegisterOnPeerClosed(int pc, OnPeerClosed callback, void *user_data, int tag);
int RegisterOnRemoteSoundReady(int pc, OnRemoteSoundReady callback, void *user_data, int tag);

/* The shared sound, encoded once for every sending peer that sends it. source 0: none (the
 * default); 1: what the speakers play (the default output's monitor of the sound server); 2: a
 * 440 Hz test tone. Without a sound server the share goes on without sound (logged). */
#define ZUWEBRTC_SOUND_NONE 0
#define ZUWEBRTC_SOUND_SPEAKERS 1
#define ZUWEBRTC_SOUND_TONE 2
/* 3: the test tone for the first 100 ms of every second of CLOCK_MONOTONIC and silence between,
 * so that a receiver can tell how far the sound is from a picture stamped with the same clock. */
#define ZUWEBRTC_SOUND_BEEPS 3
int SetShareSound(int source);
/* muted 1: silence at the source, for every peer at once, with no new negotiation. */
int MuteShareSound(int muted);
/* 1 when the shared sound has a source: a sound server answers and its monitor can be opened; 0
 * when the share would go on without sound. Asks the sound server, so it takes a few ms. */
int ShareSoundAvailable(void);
/* buffer must hold ZUWEBRTC_RECEIVE_BUFFER bytes. A null callback, buffer and user data with tag 0
 * unregister; that takes effect before the call returns. */
int RegisterOnDataFromDataChannelReady(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer,
                                       void *user_data, int tag);

/* Capture of screens and windows. */
/* In a Wayland session the screens are captured through the desktop portal: creating a capturer
 * asks the user once, in the desktop's own picker, for a monitor or a window (it waits while the
 * picker is open), and that choice is the one source listed, with its live thumbnail; no program
 * can list other programs' windows there. The choice holds for the process until the user or the
 * desktop ends the cast (the desktop's indicator that the screen is shared), which reports the
 * source lost; the next capturer starts a new cast. Without a portal (or when the user cancels) the list
 * is empty. In an X11 session every monitor and window is listed. */
int UsesDesktopPortalCapture(void);
/* Where the portal can, the desktop remembers the user's choice: each screen cast brings a token
 * that, handed back before the next cast (in this run or a later one), lets the desktop share the
 * same screen or window again without asking. Get copies the newest token, "" when there is none,
 * into buffer (size bytes with the terminating zero) and returns its length, or ZUWEBRTC_EARG when
 * it does not fit; set takes one (null or "" forgets it). A token is used up by the cast it is
 * handed to, which brings the one for the next (the desktop may give the same again). */
int SetDesktopPortalRestoreToken(const char *token);
int GetDesktopPortalRestoreToken(char *buffer, int size);
/* The next capturer opens the desktop's picker whatever was chosen or remembered before; a share
 * goes on showing its cast until switchDesktopSource switches it to the new choice, without a new
 * negotiation. Does nothing in an X11 session. */
int AskDesktopPortalAgain(void);
int CreateScreenSourceCapturer(void);
int getSourceNum(int cap);
int setExcludedWindow(int cap, uint64_t native_window_id);
int asynCaptureAllScreenOnece(int cap, OnScreenSourceCaptured callback, void *user_data, int reserved);
int switchDesktopSource(int cap, int index);
int deleteScreenSourceCpaturer(int cap);
/* A null callback unregisters; after deleteScreenSourceCpaturer returns, the callback is not called.
 * When the display is already gone, it is called soon after registration. It must not call the
 * capture functions. */
int RegisterOnScreenSourceLost(int cap, OnScreenSourceLost callback, void *user_data);

/* A share without a screen (a machine without a display, a demonstration): a moving picture of
 * width x height (even, 16 to 4096) at fps (1 to 60) is sent instead of whatever a capturer pushes;
 * 0 for all three goes back to the captured pictures. */
int ShareSyntheticPicture(int width, int height, int fps);

#ifdef __cplusplus
}
#endif

#endif /* ZUWEBRTC_H */
