#include "tst_capturedesktop.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

namespace {

const char *kLeftName = "ZU-TEST-LEFT";
const char *kRightName = "ZU-TEST-RIGHT";

unsigned long pixelOf(CaptureTestDesktop::Rgb c) {
    return (static_cast<unsigned long>(c.r) << 16) | (static_cast<unsigned long>(c.g) << 8) |
           static_cast<unsigned long>(c.b);
}

int ignoreErrors(Display *, XErrorEvent *) {
    return 0;
}

}  // namespace

CaptureTestDesktop::CaptureTestDesktop() {
    const char *name = std::getenv("DISPLAY");
    if (!name || !*name)
        return;
    display_ = XOpenDisplay(name);
    if (!display_)
        return;
    // The test's own connection only: a window that is gone already is no failure of the test.
    XSetErrorHandler(ignoreErrors);
    root_ = DefaultRootWindow(display_);
    width_ = DisplayWidth(display_, DefaultScreen(display_));
    height_ = DisplayHeight(display_, DefaultScreen(display_));
    removeMonitors();
    // The harness starts the window manager beside the tests: give it time to take the screen.
    const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    for (int attempt = 0; attempt < 100; ++attempt) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        const bool found = XGetWindowProperty(display_, root_, check, 0, 1, False, XA_WINDOW, &type, &format,
                                              &count, &remaining, &data) == Success &&
                           data && count == 1;
        if (data)
            XFree(data);
        if (found)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

CaptureTestDesktop::~CaptureTestDesktop() {
    if (!display_)
        return;
    for (unsigned long window : windows_)
        XDestroyWindow(display_, window);
    removeMonitors();
    XSetWindowBackground(display_, root_, BlackPixel(display_, DefaultScreen(display_)));
    XClearWindow(display_, root_);
    if (background_)
        XFreePixmap(display_, background_);
    XSync(display_, False);
    XCloseDisplay(display_);
}

void CaptureTestDesktop::removeMonitors() {
    XRRDeleteMonitor(display_, root_, XInternAtom(display_, kLeftName, False));
    XRRDeleteMonitor(display_, root_, XInternAtom(display_, kRightName, False));
    XSync(display_, False);
}

bool CaptureTestDesktop::splitIntoTwoMonitors() {
    if (!display_)
        return false;
    XRRScreenResources *resources = XRRGetScreenResources(display_, root_);
    if (!resources || resources->noutput < 1) {
        if (resources)
            XRRFreeScreenResources(resources);
        return false;
    }
    const int half = width_ / 2;
    XRRMonitorInfo *left = XRRAllocateMonitor(display_, 1);
    left->name = XInternAtom(display_, kLeftName, False);
    left->primary = True;
    left->automatic = False;
    left->x = 0;
    left->y = 0;
    left->width = half;
    left->height = height_;
    left->mwidth = 250;
    left->mheight = 280;
    left->outputs[0] = resources->outputs[0];
    XRRSetMonitor(display_, root_, left);
    XRRMonitorInfo *right = XRRAllocateMonitor(display_, 0);
    right->name = XInternAtom(display_, kRightName, False);
    right->primary = False;
    right->automatic = False;
    right->x = half;
    right->y = 0;
    right->width = width_ - half;
    right->height = height_;
    right->mwidth = 250;
    right->mheight = 280;
    XRRSetMonitor(display_, root_, right);
    XRRFreeMonitors(left);
    XRRFreeMonitors(right);
    XRRFreeScreenResources(resources);

    // Paint the desktop: one colour per monitor.
    const int depth = DefaultDepth(display_, DefaultScreen(display_));
    background_ = XCreatePixmap(display_, root_, width_, height_, depth);
    GC gc = XCreateGC(display_, background_, 0, nullptr);
    XSetForeground(display_, gc, pixelOf(kLeftColour));
    XFillRectangle(display_, background_, gc, 0, 0, half, height_);
    XSetForeground(display_, gc, pixelOf(kRightColour));
    XFillRectangle(display_, background_, gc, half, 0, width_ - half, height_);
    XFreeGC(display_, gc);
    XSetWindowBackgroundPixmap(display_, root_, background_);
    XClearWindow(display_, root_);
    XSync(display_, False);

    int count = 0;
    XRRMonitorInfo *monitors = XRRGetMonitors(display_, root_, True, &count);
    if (monitors)
        XRRFreeMonitors(monitors);
    monitorsMade_ = count == 2;
    return monitorsMade_;
}

uint64_t CaptureTestDesktop::createWindow(const std::string &title, int x, int y, int width, int height,
                                          Rgb colour, const char *windowType) {
    if (!display_)
        return 0;
    const Window window = XCreateSimpleWindow(display_, root_, x, y, width, height, 0, 0, pixelOf(colour));
    XSizeHints *hints = XAllocSizeHints();
    hints->flags = USPosition | USSize | PPosition | PSize;
    hints->x = x;
    hints->y = y;
    hints->width = width;
    hints->height = height;
    XSetWMNormalHints(display_, window, hints);
    XFree(hints);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.data()), static_cast<int>(title.size()));
    XStoreName(display_, window, "legacy name");
    if (windowType) {
        const Atom type = XInternAtom(display_, windowType, False);
        XChangeProperty(display_, window, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char *>(&type), 1);
    }
    XMapWindow(display_, window);
    windows_.push_back(window);
    XSync(display_, False);
    if (!waitUntilManaged(window, windowType == nullptr))
        return 0;
    // The window manager may have placed it elsewhere.
    XMoveWindow(display_, window, x, y);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return window;
}

bool CaptureTestDesktop::waitUntilManaged(unsigned long window, bool wantListed) {
    const Atom clientList = XInternAtom(display_, "_NET_CLIENT_LIST", False);
    for (int attempt = 0; attempt < 500; ++attempt) {
        XWindowAttributes attributes{};
        bool viewable =
            XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
        bool listed = !wantListed;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        if (wantListed && XGetWindowProperty(display_, root_, clientList, 0, 4096, False, XA_WINDOW, &type,
                                             &format, &count, &remaining, &data) == Success) {
            if (!data)
                listed = true;  // no window manager: top-level windows are listed directly
            const unsigned long *ids = reinterpret_cast<const unsigned long *>(data);
            for (unsigned long i = 0; data && i < count; ++i)
                listed = listed || ids[i] == window;
        }
        if (data)
            XFree(data);
        if (viewable && listed)
            return true;
        if (attempt % 50 == 49) {
            // Mapped while the window manager was still starting, so it never saw the request:
            // map it again.
            XUnmapWindow(display_, window);
            XSync(display_, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            XMapWindow(display_, window);
            XSync(display_, False);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void CaptureTestDesktop::destroyWindow(uint64_t window) {
    XDestroyWindow(display_, window);
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool CaptureTestDesktop::minimiseWindow(uint64_t window) {
    XIconifyWindow(display_, window, DefaultScreen(display_));
    XSync(display_, False);
    for (int attempt = 0; attempt < 200; ++attempt) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, window, &attributes) && attributes.map_state != IsViewable)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void CaptureTestDesktop::moveWindow(uint64_t window, int x, int y) {
    XMoveWindow(display_, window, x, y);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void CaptureTestDesktop::raiseWindow(uint64_t window) {
    XRaiseWindow(display_, window);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void CaptureTestDesktop::warpPointer(int x, int y) {
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y);
    XSync(display_, False);
}

void CaptureTestDesktop::sync() {
    XSync(display_, False);
}

CaptureTestDesktop::Yuv CaptureTestDesktop::toYuv(Rgb c) {
    // BT.601 limited range, as libyuv's ARGB conversions.
    Yuv out;
    out.y = ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16;
    out.u = ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128;
    out.v = ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128;
    return out;
}

CaptureTestDesktop::Yuv CaptureTestDesktop::sample(const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                                   int strideY, int strideU, int strideV, int width,
                                                   int height, int x, int y0) {
    long sumY = 0;
    long sumU = 0;
    long sumV = 0;
    int count = 0;
    for (int row = std::max(0, y0 - 2); row <= std::min(height - 1, y0 + 2); ++row) {
        for (int col = std::max(0, x - 2); col <= std::min(width - 1, x + 2); ++col) {
            sumY += y[row * strideY + col];
            sumU += u[(row / 2) * strideU + col / 2];
            sumV += v[(row / 2) * strideV + col / 2];
            ++count;
        }
    }
    if (count == 0)
        return Yuv{-1, -1, -1};
    return Yuv{int(sumY / count), int(sumU / count), int(sumV / count)};
}

CaptureTestDesktop::Yuv CaptureTestDesktop::sample(const zuengine::ScreenFrame &frame, int x, int y) {
    return sample(frame.y(), frame.u(), frame.v(), frame.strideY(), frame.strideUV(), frame.strideUV(),
                  frame.width(), frame.height(), x, y);
}

bool CaptureTestDesktop::near(Yuv a, Yuv b, int tolerance) {
    return std::abs(a.y - b.y) <= tolerance && std::abs(a.u - b.u) <= tolerance &&
           std::abs(a.v - b.v) <= tolerance;
}

std::string CaptureTestDesktop::describe(Yuv c) {
    return "YUV(" + std::to_string(c.y) + "," + std::to_string(c.u) + "," + std::to_string(c.v) + ")";
}
