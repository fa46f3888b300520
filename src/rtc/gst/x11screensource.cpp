#include "rtc/gst/x11screensource.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include "core/logger.h"

namespace zuengine {

namespace {

// Xlib reports errors through one process-wide handler. Errors on our own connections are
// recorded for the request that caused them; every other connection (Qt's) keeps its handler.
std::mutex trapMutex;
std::map<Display *, int> &trapErrors() {
    static std::map<Display *, int> errors;
    return errors;
}
XErrorHandler previousHandler = nullptr;
XIOErrorHandler previousIoHandler = nullptr;
std::once_flag handlerInstalled;

int trapHandler(Display *display, XErrorEvent *event) {
    {
        std::lock_guard<std::mutex> lock(trapMutex);
        auto it = trapErrors().find(display);
        if (it != trapErrors().end()) {
            if (it->second == 0)
                it->second = event->error_code;
            return 0;
        }
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

// A lost connection (the X server ended) is fatal to Xlib's default handler, which exits the process
// from the capture thread. On our own connections the handler returns, and so does the exit handler:
// Xlib then marks the connection dead, every later request fails at once, and the capture reports
// the display gone.
int ioHandler(Display *display) {
    {
        std::lock_guard<std::mutex> lock(trapMutex);
        if (trapErrors().count(display))
            return 0;
    }
    return previousIoHandler ? previousIoHandler(display) : 0;
}

void onConnectionLost(Display *, void *lost) {
    static_cast<std::atomic<bool> *>(lost)->store(true);
}

void trapDisplay(Display *display, std::atomic<bool> *lost) {
    std::call_once(handlerInstalled, [] {
        previousHandler = XSetErrorHandler(trapHandler);
        previousIoHandler = XSetIOErrorHandler(ioHandler);
    });
    XSetIOErrorExitHandler(display, onConnectionLost, lost);
    std::lock_guard<std::mutex> lock(trapMutex);
    trapErrors()[display] = 0;
}

void untrapDisplay(Display *display) {
    std::lock_guard<std::mutex> lock(trapMutex);
    trapErrors().erase(display);
}

// The error of the requests since the last call; sync for requests without a reply.
int takeError(Display *display, bool sync) {
    if (sync)
        XSync(display, False);
    std::lock_guard<std::mutex> lock(trapMutex);
    int &error = trapErrors()[display];
    const int result = error;
    error = 0;
    return result;
}

std::atomic<bool> noDisplayLogged{false};

enum AtomIndex {
    kNetClientList,
    kNetWmName,
    kUtf8String,
    kNetWmState,
    kNetWmStateHidden,
    kNetWmWindowType,
    kTypeDesktop,
    kTypeDock,
    kTypeToolbar,
    kTypeMenu,
    kTypeSplash,
    kTypeDropdownMenu,
    kTypePopupMenu,
    kTypeTooltip,
    kTypeNotification,
    kTypeCombo,
    kTypeDnd,
    kAtomCount
};

const char *atomNames[kAtomCount] = {
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
};

void blendPointer(const XFixesCursorImage *cursor, int left, int top, ScreenImage &image) {
    // XFixes gives premultiplied ARGB, one pixel per unsigned long.
    const int x0 = cursor->x - cursor->xhot - left;
    const int y0 = cursor->y - cursor->yhot - top;
    for (int row = std::max(0, -y0); row < cursor->height && y0 + row < image.height; ++row) {
        uint8_t *dst = image.data + static_cast<std::size_t>(y0 + row) * image.stride;
        const unsigned long *src = cursor->pixels + static_cast<std::size_t>(row) * cursor->width;
        for (int col = std::max(0, -x0); col < cursor->width && x0 + col < image.width; ++col) {
            const uint32_t argb = static_cast<uint32_t>(src[col]);
            const uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            uint8_t *px = dst + static_cast<std::size_t>(x0 + col) * 4;
            const uint32_t keep = 255 - alpha;
            px[0] = static_cast<uint8_t>(std::min<uint32_t>(255, (argb & 0xff) + px[0] * keep / 255));
            px[1] = static_cast<uint8_t>(std::min<uint32_t>(255, ((argb >> 8) & 0xff) + px[1] * keep / 255));
            px[2] = static_cast<uint8_t>(std::min<uint32_t>(255, ((argb >> 16) & 0xff) + px[2] * keep / 255));
        }
    }
}

}  // namespace

struct X11ScreenSource::Private {
    Display *display = nullptr;
    Window root = 0;
    int screen = 0;
    int rootWidth = 0;
    int rootHeight = 0;
    int defaultDepth = 0;
    Visual *defaultVisual = nullptr;
    Atom atoms[kAtomCount] = {};
    bool randr = false;
    bool composite = false;
    bool fixes = false;
    bool shm = false;

    XShmSegmentInfo segment{};
    std::size_t segmentSize = 0;
    XImage *shmImage = nullptr;
    XImage *plainImage = nullptr;
    bool formatLogged = false;
    std::atomic<bool> lost{false};

    Window redirected = 0;

    ~Private() {
        if (!display)
            return;
        releaseRedirection();
        dropShmImage();
        dropSegment();
        dropPlainImage();
        XSync(display, False);
        untrapDisplay(display);
        XCloseDisplay(display);
    }

    void releaseRedirection() {
        if (!redirected)
            return;
        XCompositeUnredirectWindow(display, redirected, CompositeRedirectAutomatic);
        takeError(display, true);
        redirected = 0;
    }

    void dropShmImage() {
        if (!shmImage)
            return;
        // The pixels belong to the shared segment and obdata to us: XDestroyImage must free neither.
        shmImage->data = nullptr;
        shmImage->obdata = nullptr;
        XDestroyImage(shmImage);
        shmImage = nullptr;
    }

    void dropSegment() {
        if (!segmentSize)
            return;
        XShmDetach(display, &segment);
        XSync(display, False);
        shmdt(segment.shmaddr);
        segment = XShmSegmentInfo{};
        segmentSize = 0;
    }

    void dropPlainImage() {
        if (plainImage)
            XDestroyImage(plainImage);
        plainImage = nullptr;
    }

    bool ensureSegment(std::size_t bytes) {
        if (segmentSize >= bytes)
            return true;
        dropShmImage();
        dropSegment();
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void *address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void *>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        segment.shmid = id;
        segment.shmaddr = static_cast<char *>(address);
        segment.readOnly = False;
        XShmAttach(display, &segment);
        const bool attached = takeError(display, true) == 0;
        // Marked for removal at once: it goes away with the last detach, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (!attached) {
            shmdt(address);
            segment = XShmSegmentInfo{};
            return false;
        }
        segmentSize = bytes;
        return true;
    }

    XImage *shmImageFor(int width, int height) {
        if (shmImage && shmImage->width == width && shmImage->height == height)
            return shmImage;
        dropShmImage();
        XImage *image =
            XShmCreateImage(display, defaultVisual, defaultDepth, ZPixmap, nullptr, &segment, width, height);
        if (!image)
            return nullptr;
        const std::size_t bytes = static_cast<std::size_t>(image->bytes_per_line) * height;
        image->data = nullptr;
        image->obdata = nullptr;
        XDestroyImage(image);
        if (!ensureSegment(bytes)) {
            g_logger->warn("screen capture: shared memory unavailable, using plain X images");
            shm = false;
            return nullptr;
        }
        shmImage =
            XShmCreateImage(display, defaultVisual, defaultDepth, ZPixmap, nullptr, &segment, width, height);
        if (shmImage)
            shmImage->data = segment.shmaddr;
        return shmImage;
    }

    // Reads a rectangle of a drawable; the image stays ours until the next call.
    XImage *read(Drawable drawable, int x, int y, int width, int height, int depth) {
        if (shm && depth == defaultDepth) {
            if (XImage *image = shmImageFor(width, height)) {
                const Status ok = XShmGetImage(display, drawable, image, x, y, AllPlanes);
                if (takeError(display, false) == 0 && ok)
                    return image;
                return nullptr;
            }
        }
        dropPlainImage();
        plainImage = XGetImage(display, drawable, x, y, width, height, AllPlanes, ZPixmap);
        if (takeError(display, false) != 0) {
            dropPlainImage();
            return nullptr;
        }
        return plainImage;
    }

    bool toScreenImage(XImage *image, ScreenImage &out) {
        // Images of pixmaps carry no colour masks; those of the 24- and 32-bit visuals are BGRX.
        const bool masksFit =
            (image && image->red_mask == 0 && image->green_mask == 0 && image->blue_mask == 0) ||
            (image && image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff);
        if (!image || image->bits_per_pixel != 32 || image->byte_order != LSBFirst || !masksFit) {
            if (image && !formatLogged) {
                g_logger->warn("screen capture: unsupported pixel format ({} bits per pixel, depth {})",
                               image->bits_per_pixel, image->depth);
                formatLogged = true;
            }
            return false;
        }
        out.data = reinterpret_cast<uint8_t *>(image->data);
        out.width = image->width;
        out.height = image->height;
        out.stride = image->bytes_per_line;
        return true;
    }

    bool property32(Window window, Atom property, Atom type, std::vector<unsigned long> &values) {
        values.clear();
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        const int status = XGetWindowProperty(display, window, property, 0, 65536, False, type, &actualType,
                                              &format, &count, &remaining, &data);
        const bool ok =
            takeError(display, false) == 0 && status == Success && data && format == 32 && actualType == type;
        if (ok) {
            const unsigned long *longs = reinterpret_cast<const unsigned long *>(data);
            values.assign(longs, longs + count);
        }
        if (data)
            XFree(data);
        return ok;
    }

    std::string title(Window window) {
        std::string result;
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char *data = nullptr;
        const int status =
            XGetWindowProperty(display, window, atoms[kNetWmName], 0, 65536, False, atoms[kUtf8String],
                               &actualType, &format, &count, &remaining, &data);
        if (takeError(display, false) == 0 && status == Success && data && format == 8 &&
            actualType == atoms[kUtf8String])
            result.assign(reinterpret_cast<const char *>(data), count);
        if (data)
            XFree(data);
        if (!result.empty())
            return result;

        XTextProperty text{};
        if (XGetWMName(display, window, &text) && takeError(display, false) == 0 && text.value) {
            char **list = nullptr;
            int items = 0;
            if (Xutf8TextPropertyToTextList(display, &text, &list, &items) >= Success && list) {
                for (int i = 0; i < items; ++i)
                    result += list[i];
                XFreeStringList(list);
            } else {
                result.assign(reinterpret_cast<const char *>(text.value), text.nitems);
            }
        }
        if (text.value)
            XFree(text.value);
        takeError(display, false);
        return result;
    }

    bool wanted(Window window) {
        std::vector<unsigned long> values;
        if (property32(window, atoms[kNetWmState], XA_ATOM, values) &&
            std::find(values.begin(), values.end(), atoms[kNetWmStateHidden]) != values.end())
            return false;
        if (property32(window, atoms[kNetWmWindowType], XA_ATOM, values)) {
            for (unsigned long type : values) {
                for (int i = kTypeDesktop; i <= kTypeDnd; ++i) {
                    if (type == atoms[i])
                        return false;
                }
            }
        }
        return true;
    }

    bool attributesOf(Window window, XWindowAttributes &attributes) {
        takeError(display, false);
        if (XGetWindowAttributes(display, window, &attributes) && takeError(display, false) == 0)
            return true;
        // A failed call can leave the error of its second request unread: drain it here.
        takeError(display, true);
        return false;
    }

    void rootOrigin(Window window, int &x, int &y) {
        Window child = 0;
        x = 0;
        y = 0;
        if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child))
            x = y = 0;
        takeError(display, false);
    }

    void refreshRootSize() {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, root, &attributes)) {
            rootWidth = attributes.width;
            rootHeight = attributes.height;
        }
        takeError(display, false);
    }
};

std::unique_ptr<X11ScreenSource> X11ScreenSource::open(const char *displayName) {
    const char *name = displayName ? displayName : std::getenv("DISPLAY");
    if (!name || !*name) {
        if (!noDisplayLogged.exchange(true))
            g_logger->warn(
                "screen capture: no X display (DISPLAY is not set), so there is no screen or "
                "window to share");
        return nullptr;
    }
    XInitThreads();
    Display *display = XOpenDisplay(name);
    if (!display) {
        if (!noDisplayLogged.exchange(true))
            g_logger->warn(
                "screen capture: cannot open X display \"{}\", so there is no screen or window to share",
                name);
        return nullptr;
    }
    auto d = std::make_unique<Private>();
    trapDisplay(display, &d->lost);
    d->display = display;
    d->screen = DefaultScreen(display);
    d->root = RootWindow(display, d->screen);
    d->defaultDepth = DefaultDepth(display, d->screen);
    d->defaultVisual = DefaultVisual(display, d->screen);
    d->rootWidth = DisplayWidth(display, d->screen);
    d->rootHeight = DisplayHeight(display, d->screen);
    XInternAtoms(display, const_cast<char **>(atomNames), kAtomCount, False, d->atoms);

    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    d->randr = XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor) &&
               (major > 1 || (major == 1 && minor >= 5));
    major = 0;
    minor = 2;
    d->composite = XCompositeQueryExtension(display, &event, &error) &&
                   XCompositeQueryVersion(display, &major, &minor) && (major > 0 || minor >= 2);
    major = 2;
    minor = 0;
    d->fixes = XFixesQueryExtension(display, &event, &error) && XFixesQueryVersion(display, &major, &minor) &&
               major >= 2;
    d->shm = XShmQueryExtension(display);
    takeError(display, true);
    return std::unique_ptr<X11ScreenSource>(new X11ScreenSource(std::move(d)));
}

X11ScreenSource::X11ScreenSource(std::unique_ptr<Private> d) : d_(std::move(d)) {}

X11ScreenSource::~X11ScreenSource() = default;

bool X11ScreenSource::displayLost() const {
    return d_->lost.load();
}

bool X11ScreenSource::hasSharedMemory() const {
    return d_->shm;
}

bool X11ScreenSource::hasComposite() const {
    return d_->composite;
}

std::vector<ScreenSource> X11ScreenSource::monitors() {
    d_->refreshRootSize();
    std::vector<ScreenSource> result;
    if (d_->randr) {
        int count = 0;
        XRRMonitorInfo *infos = XRRGetMonitors(d_->display, d_->root, True, &count);
        takeError(d_->display, false);
        for (int i = 0; infos && i < count; ++i) {
            ScreenSource monitor;
            monitor.kind = ScreenSource::Kind::Monitor;
            monitor.id = infos[i].name;
            monitor.x = std::max(0, infos[i].x);
            monitor.y = std::max(0, infos[i].y);
            monitor.width = std::min(infos[i].x + infos[i].width, d_->rootWidth) - monitor.x;
            monitor.height = std::min(infos[i].y + infos[i].height, d_->rootHeight) - monitor.y;
            monitor.primary = infos[i].primary;
            if (monitor.width > 0 && monitor.height > 0)
                result.push_back(monitor);
        }
        if (infos)
            XRRFreeMonitors(infos);
    }
    if (result.empty()) {
        ScreenSource whole;
        whole.width = d_->rootWidth;
        whole.height = d_->rootHeight;
        whole.primary = true;
        result.push_back(whole);
    }
    std::stable_partition(result.begin(), result.end(), [](const ScreenSource &m) { return m.primary; });
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i].title = "屏幕 " + std::to_string(i + 1);
    return result;
}

std::vector<ScreenSource> X11ScreenSource::windows(const std::set<uint64_t> &excluded) {
    std::vector<unsigned long> clients;
    if (!d_->property32(d_->root, d_->atoms[kNetClientList], XA_WINDOW, clients)) {
        // No window manager: the top-level windows themselves.
        Window rootReturn = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(d_->display, d_->root, &rootReturn, &parent, &children, &count) && children) {
            clients.assign(children, children + count);
            XFree(children);
        }
        takeError(d_->display, false);
    }
    std::vector<ScreenSource> result;
    for (unsigned long client : clients) {
        const Window window = client;
        if (excluded.count(window))
            continue;
        XWindowAttributes attributes{};
        if (!d_->attributesOf(window, attributes))
            continue;
        if (attributes.map_state != IsViewable || attributes.c_class == InputOnly ||
            attributes.override_redirect)
            continue;
        if (!d_->wanted(window))
            continue;
        ScreenSource source;
        source.kind = ScreenSource::Kind::Window;
        source.id = window;
        source.title = d_->title(window);
        if (source.title.empty())
            continue;
        d_->rootOrigin(window, source.x, source.y);
        source.width = attributes.width;
        source.height = attributes.height;
        result.push_back(std::move(source));
    }
    return result;
}

bool X11ScreenSource::grab(const ScreenSource &source, bool withPointer, ScreenImage &image) {
    image = ScreenImage{};
    Private &d = *d_;
    XImage *picture = nullptr;
    int left = 0;
    int top = 0;
    if (!source.isWindow()) {
        if (d.redirected)
            d.releaseRedirection();
        left = std::max(0, source.x);
        top = std::max(0, source.y);
        const int width = std::min(source.x + source.width, d.rootWidth) - left;
        const int height = std::min(source.y + source.height, d.rootHeight) - top;
        if (width <= 0 || height <= 0)
            return false;
        picture = d.read(d.root, left, top, width, height, d.defaultDepth);
    } else {
        const Window window = source.id;
        XWindowAttributes attributes{};
        if (!d.attributesOf(window, attributes) || attributes.map_state != IsViewable ||
            attributes.width <= 0 || attributes.height <= 0)
            return false;
        d.rootOrigin(window, left, top);
        if (d.composite) {
            if (d.redirected != window) {
                d.releaseRedirection();
                XCompositeRedirectWindow(d.display, window, CompositeRedirectAutomatic);
                // The new backing picture starts as a copy of the screen: have it painted afresh.
                XClearArea(d.display, window, 0, 0, 0, 0, True);
                if (takeError(d.display, true) == 0)
                    d.redirected = window;
            }
            if (d.redirected == window) {
                const Pixmap pixmap = XCompositeNameWindowPixmap(d.display, window);
                if (takeError(d.display, true) == 0 && pixmap) {
                    picture = d.read(pixmap, 0, 0, attributes.width, attributes.height, attributes.depth);
                    XFreePixmap(d.display, pixmap);
                    takeError(d.display, false);
                }
            }
        }
        if (d.composite && !picture)
            return false;  // gone meanwhile; reading the screen there would show whatever lies beneath
        if (!picture) {
            // Without Composite only what is on the screen can be read.
            const int x0 = std::max(0, left);
            const int y0 = std::max(0, top);
            const int width = std::min(left + attributes.width, d.rootWidth) - x0;
            const int height = std::min(top + attributes.height, d.rootHeight) - y0;
            if (width <= 0 || height <= 0)
                return false;
            picture = d.read(d.root, x0, y0, width, height, d.defaultDepth);
            left = x0;
            top = y0;
        }
    }
    if (!d.toScreenImage(picture, image))
        return false;
    if (withPointer && d.fixes) {
        if (XFixesCursorImage *cursor = XFixesGetCursorImage(d.display)) {
            blendPointer(cursor, left, top, image);
            XFree(cursor);
        }
        takeError(d.display, false);
    }
    return true;
}

void X11ScreenSource::releaseWindows() {
    d_->releaseRedirection();
}

}  // namespace zuengine
