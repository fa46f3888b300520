#pragma once

#include <memory>
#include <string>

#include "rtc/gst/screensourcebackend.h"

namespace zuengine {

class PortalScreenCast;

// The screen of a Wayland desktop, through the desktop portal's screen cast and its PipeWire stream.
// A Wayland desktop lets no program list or read other programs' windows: the user picks one
// monitor or window in the desktop's own picker, once per process (the cast is shared by every
// backend object and kept until it ends), and that choice is the one source listed. Its picture
// arrives only while the desktop shows the cast in its indicator; ending it there ends the source.
class PortalScreenSource : public ScreenSourceBackend {
public:
    // Null, with a log line saying why, when the session has no usable portal or the user refused.
    static std::unique_ptr<PortalScreenSource> open();
    // The portal's token for the user's last choice, handed to the next cast so that the desktop may
    // restore the choice without asking; each cast's answer brings a new one.
    static void setRestoreToken(const std::string &token);
    static std::string restoreToken();
    // The next cast opens the desktop's picker, whatever was chosen before; the cast that a stream
    // shows goes on until the stream is switched to the new choice.
    static void askAgain();
    ~PortalScreenSource() override;

    PortalScreenSource(const PortalScreenSource &) = delete;
    PortalScreenSource &operator=(const PortalScreenSource &) = delete;

    // The chosen source: a monitor (listed as such) or a window (listed among the windows).
    std::vector<ScreenSource> monitors() override;
    std::vector<ScreenSource> windows(const std::set<uint64_t> &excluded) override;
    // The newest picture of the cast; the pointer is embedded by the desktop where it offers that.
    bool grab(const ScreenSource &source, bool withPointer, ScreenImage &image) override;
    // True once the user or the desktop ended the cast.
    bool displayLost() const override;
    const char *lostReason() const override;

private:
    explicit PortalScreenSource(std::shared_ptr<PortalScreenCast> cast);
    std::shared_ptr<PortalScreenCast> cast_;
    struct Held;
    std::unique_ptr<Held> held_;  // the sample behind the last grabbed image
};

}  // namespace zuengine
