// The capture half of the engine's C contract.

#include "rtc/zuwebrtc.h"

#include <cstring>
#include <string>

#include "core/logger.h"
#include "rtc/gst/capturerregistry.h"
#include "rtc/gst/portalscreensource.h"
#include "rtc/gst/screensourcebackend.h"

using zuengine::CapturerRegistry;
using zuengine::ScreenFrame;
using zuengine::ScreenSourceBackend;
using zuengine::ScreenSourceCapturer;
using zuengine::ScreenStream;

extern "C" {

int CreateScreenSourceCapturer(void) {
    CapturerRegistry &registry = CapturerRegistry::instance();
    ScreenStream &stream = registry.stream();
    std::unique_ptr<ScreenSourceBackend> backend = ScreenSourceBackend::create();
    if (backend)
        stream.clearLost();  // a new screen cast after one that ended
    return registry.add(std::make_shared<ScreenSourceCapturer>(std::move(backend)));
}

int UsesDesktopPortalCapture(void) {
    return ScreenSourceBackend::waylandSession() ? 1 : 0;
}

int SetDesktopPortalRestoreToken(const char *token) {
    zuengine::PortalScreenSource::setRestoreToken(token ? token : "");
    return ZUWEBRTC_OK;
}

int GetDesktopPortalRestoreToken(char *buffer, int size) {
    const std::string token = zuengine::PortalScreenSource::restoreToken();
    if (!buffer || size <= int(token.size()))
        return ZUWEBRTC_EARG;
    std::memcpy(buffer, token.c_str(), token.size() + 1);
    return int(token.size());
}

int AskDesktopPortalAgain(void) {
    if (ScreenSourceBackend::waylandSession())
        zuengine::PortalScreenSource::askAgain();
    return ZUWEBRTC_OK;
}

int getSourceNum(int cap) {
    std::shared_ptr<ScreenSourceCapturer> capturer = CapturerRegistry::instance().find(cap);
    if (!capturer)
        return ZUWEBRTC_EHANDLE;
    return capturer->sourceCount();
}

int setExcludedWindow(int cap, uint64_t native_window_id) {
    std::shared_ptr<ScreenSourceCapturer> capturer = CapturerRegistry::instance().find(cap);
    if (!capturer)
        return ZUWEBRTC_EHANDLE;
    capturer->exclude(native_window_id);
    return ZUWEBRTC_OK;
}

int asynCaptureAllScreenOnece(int cap, OnScreenSourceCaptured callback, void *user_data, int reserved) {
    (void)reserved;
    CapturerRegistry &registry = CapturerRegistry::instance();
    std::shared_ptr<ScreenSourceCapturer> capturer = registry.find(cap);
    if (!capturer)
        return ZUWEBRTC_EHANDLE;
    if (!callback)
        return ZUWEBRTC_EARG;
    registry.thread().post([capturer, callback, user_data] {
        capturer->snapshotRound(
            [callback, user_data](const ScreenFrame &thumbnail, const std::string &title) {
                callback(thumbnail.y(), thumbnail.u(), thumbnail.v(), 0, thumbnail.strideY(),
                         thumbnail.strideUV(), thumbnail.strideUV(), 0, thumbnail.width(), thumbnail.height(),
                         0, 0, title.c_str(), user_data);
            });
    });
    return ZUWEBRTC_OK;
}

int switchDesktopSource(int cap, int index) {
    CapturerRegistry &registry = CapturerRegistry::instance();
    std::shared_ptr<ScreenSourceCapturer> capturer = registry.find(cap);
    if (!capturer)
        return ZUWEBRTC_EHANDLE;
    std::optional<zuengine::ScreenSource> source = capturer->sourceAt(index);
    if (!source) {
        g_logger->warn("screen capture: there is no source {} to switch to", index);
        return ZUWEBRTC_EARG;
    }
    registry.stream().setSource(*source);
    return ZUWEBRTC_OK;
}

int RegisterOnScreenSourceLost(int cap, OnScreenSourceLost callback, void *user_data) {
    CapturerRegistry::LostListener listener;
    if (callback)
        listener = [callback, user_data] { callback(user_data); };
    return CapturerRegistry::instance().setLostListener(cap, std::move(listener)) ? ZUWEBRTC_OK
                                                                                  : ZUWEBRTC_EHANDLE;
}

int deleteScreenSourceCpaturer(int cap) {
    std::shared_ptr<ScreenSourceCapturer> capturer = CapturerRegistry::instance().take(cap);
    if (!capturer)
        return ZUWEBRTC_EHANDLE;
    capturer->cancel();
    return ZUWEBRTC_OK;
}

}  // extern "C"
