#pragma once

#include <memory>

#include "rtc/gst/screensourcebackend.h"

namespace zuengine {

// Screens and windows of an X11 display: RandR monitors, the window manager's client list,
// shared-memory images, Composite for covered or off-screen windows and XFixes for the pointer.
// Owns its own display connection, so each user (thumbnail rounds, the live stream) opens one.
class X11ScreenSource : public ScreenSourceBackend {
public:
    // Null, with one log line per process saying why, when the display cannot be opened.
    static std::unique_ptr<X11ScreenSource> open(const char *displayName = nullptr);
    ~X11ScreenSource() override;

    X11ScreenSource(const X11ScreenSource &) = delete;
    X11ScreenSource &operator=(const X11ScreenSource &) = delete;

    std::vector<ScreenSource> monitors() override;
    std::vector<ScreenSource> windows(const std::set<uint64_t> &excluded) override;
    bool grab(const ScreenSource &source, bool withPointer, ScreenImage &image) override;

    // Ends the redirection of every captured window.
    void releaseWindows() override;
    bool displayLost() const override;

    bool hasSharedMemory() const;
    bool hasComposite() const;

private:
    struct Private;
    explicit X11ScreenSource(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d_;
};

}  // namespace zuengine
