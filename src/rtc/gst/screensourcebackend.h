#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "rtc/gst/screenimage.h"
#include "rtc/gst/screensource.h"

namespace zuengine {

// What the capturer needs from a desktop: the list of monitors and windows, and their pictures.
// X11, or the desktop portal in a Wayland session. One backend object is used by one thread at a
// time.
class ScreenSourceBackend {
public:
    virtual ~ScreenSourceBackend() = default;

    // Monitors, the primary one first.
    virtual std::vector<ScreenSource> monitors() = 0;
    // Windows a user would pick, in the window manager's order, without the excluded ids.
    virtual std::vector<ScreenSource> windows(const std::set<uint64_t> &excluded) = 0;
    // The source's current picture, valid until the next call on this backend. False when the
    // source is gone or cannot be seen now (a closed or minimised window).
    virtual bool grab(const ScreenSource &source, bool withPointer, ScreenImage &image) = 0;
    // Gives back what window captures hold in the desktop until the next grab.
    virtual void releaseWindows() {}
    // True once the desktop's connection is gone for good (the display server ended).
    virtual bool displayLost() const { return false; }
    // Why, for the log, once displayLost() is true.
    virtual const char *lostReason() const { return "the display is gone (its server ended)"; }

    std::vector<ScreenSource> sources(const std::set<uint64_t> &excluded);

    // The backend of this session, or null (with a log line saying why) when there is none: the
    // desktop portal in a Wayland session, even when the program itself runs through XWayland
    // (which shows X11 only the programs that run through it), else X11.
    static std::unique_ptr<ScreenSourceBackend> create();
    static bool waylandSession();
};

}  // namespace zuengine
