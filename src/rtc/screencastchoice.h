#pragma once

#include <QString>

#include <cstdint>
#include <functional>

struct I420Planes;

// The screen or window the user chose in a Wayland desktop's picker, remembered in the program's
// settings through the portal's token so that the next share, in this run or a later one, does
// not ask again. Without a portal nothing is kept.
class ScreenCastChoice {
public:
    // A capturer of the engine, created with the remembered choice handed to the portal; the choice
    // it brings is kept for the next one.
    static int createCapturer();
    // The next capturer opens the desktop's picker; the remembered choice stays until one is made.
    static void askAgain();
    // The screens come from the desktop's picker (a Wayland session), not from a list of the display's
    // monitors and windows (X11).
    static bool usesDesktopPicker();
};

// A capturer made by ScreenCastChoice as the source dialog uses it: the sources it lists, a thumbnail
// of each and the switch of the shared stream to one of them. Its callbacks run on the engine's
// threads, and never once the destructor has begun.
class ScreenSources {
public:
    // One per source, in source order; the planes are valid during the call only.
    using OnThumbnail = std::function<void(const I420Planes &planes, const QString &title)>;
    // What it captures is gone (the display ended, the desktop stopped the screen cast); at most once.
    using OnLost = std::function<void()>;

    ScreenSources(OnThumbnail onThumbnail, OnLost onLost);
    ~ScreenSources();
    ScreenSources(const ScreenSources &) = delete;
    ScreenSources &operator=(const ScreenSources &) = delete;

    // False when the engine made no capturer (its error code is the handle); the calls below then do
    // nothing.
    bool isValid() const { return handle_ > 0; }
    int handle() const { return handle_; }

    // A window of this program, which is never offered.
    void exclude(uint64_t nativeWindowId);
    // 0 when there is none.
    int count() const;
    // One thumbnail of every source, delivered later; false when that cannot start.
    bool captureThumbnails();
    // The shared stream shows the source at index from now on; 0, or the engine's error code.
    int switchTo(int index);

private:
    int handle_ = 0;
};
