#include "rtc/gst/screensourcebackend.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/logger.h"
#include "rtc/gst/portalscreensource.h"
#include "rtc/gst/x11screensource.h"

namespace zuengine {

std::vector<ScreenSource> ScreenSourceBackend::sources(const std::set<uint64_t> &excluded) {
    std::vector<ScreenSource> all = monitors();
    std::vector<ScreenSource> apps = windows(excluded);
    all.insert(all.end(), apps.begin(), apps.end());
    return all;
}

bool ScreenSourceBackend::waylandSession() {
    const char *type = std::getenv("XDG_SESSION_TYPE");
    if (type && *type)
        return std::strcmp(type, "wayland") == 0;
    const char *display = std::getenv("WAYLAND_DISPLAY");
    return display && *display;
}

std::unique_ptr<ScreenSourceBackend> ScreenSourceBackend::create() {
    const bool wayland = waylandSession();
    static std::once_flag said;
    std::call_once(said, [wayland] {
        g_logger->info("screen capture: {}", wayland
                                                 ? "Wayland session, through the desktop portal and PipeWire"
                                                 : "X11 session, through the X server");
    });
    if (wayland)
        return PortalScreenSource::open();
    return X11ScreenSource::open();
}

}  // namespace zuengine
