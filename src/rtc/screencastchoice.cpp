#include "rtc/screencastchoice.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <mutex>
#include <unordered_map>

#include "core/i420planes.h"
#include "core/usersettings.h"
#include "rtc/zuwebrtc.h"

namespace {

const char *const kTokenKey = "capture/portalRestoreToken";

// The listeners of the capturers alive now, by handle: the engine gets the handle as its user data,
// so a callback that comes after its capturer was destroyed finds nothing here and is dropped.
struct Listeners {
    ScreenSources::OnThumbnail thumbnail;
    ScreenSources::OnLost lost;
};
std::mutex g_listenersLock;
std::unordered_map<int, Listeners> &listeners() {
    static std::unordered_map<int, Listeners> all;
    return all;
}

void *keyOf(int handle) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(handle));
}

int handleOf(void *key) {
    return static_cast<int>(reinterpret_cast<intptr_t>(key));
}

// The engine names screens and the portal's window in Chinese ("屏幕 1", "窗口"); the user reads them in
// the interface's language. A window's own title is shown as it is.
QString sourceTitle(const char *title) {
    const QString text = QString::fromUtf8(title ? title : "");
    static const QRegularExpression screen(QStringLiteral("^屏幕 (\\d+)$"));
    const QRegularExpressionMatch m = screen.match(text);
    if (m.hasMatch())
        return QCoreApplication::translate("ScreenSources", "屏幕 %1").arg(m.captured(1));
    if (text == QStringLiteral("窗口"))
        return QCoreApplication::translate("ScreenSources", "窗口");
    return text;
}

void deliverThumbnail(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int strideY, int strideU,
                      int strideV, int, int width, int height, int, int, const char *title, void *key) {
    const I420Planes planes = I420Planes::of(y, u, v, strideY, strideU, strideV, width, height);
    const QString text = sourceTitle(title);
    std::lock_guard<std::mutex> lock(g_listenersLock);
    const auto it = listeners().find(handleOf(key));
    if (it != listeners().end() && it->second.thumbnail)
        it->second.thumbnail(planes, text);
}

void deliverLost(void *key) {
    std::lock_guard<std::mutex> lock(g_listenersLock);
    const auto it = listeners().find(handleOf(key));
    if (it != listeners().end() && it->second.lost)
        it->second.lost();
}

}  // namespace

int ScreenCastChoice::createCapturer() {
    if (!usesDesktopPicker())
        return CreateScreenSourceCapturer();
    char token[256] = {};
    if (GetDesktopPortalRestoreToken(token, sizeof token) == 0) {
        // Nothing newer in this run: the one an earlier run kept.
        const QByteArray kept = userSettings().value(kTokenKey).toString().toUtf8();
        SetDesktopPortalRestoreToken(kept.constData());
    }
    const int capturer = CreateScreenSourceCapturer();
    if (GetDesktopPortalRestoreToken(token, sizeof token) >= 0) {
        QSettings settings = userSettings();
        if (token[0])
            settings.setValue(kTokenKey, QString::fromUtf8(token));
        else
            settings.remove(kTokenKey);
    }
    return capturer;
}

void ScreenCastChoice::askAgain() {
    AskDesktopPortalAgain();
}

bool ScreenCastChoice::usesDesktopPicker() {
    return UsesDesktopPortalCapture() == 1;
}

ScreenSources::ScreenSources(OnThumbnail onThumbnail, OnLost onLost)
    : handle_(ScreenCastChoice::createCapturer()) {
    if (handle_ <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(g_listenersLock);
        listeners()[handle_] = Listeners{std::move(onThumbnail), std::move(onLost)};
    }
    RegisterOnScreenSourceLost(handle_, &deliverLost, keyOf(handle_));
}

ScreenSources::~ScreenSources() {
    if (handle_ <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(g_listenersLock);
        listeners().erase(handle_);
    }
    // Outside the lock: a listener running on the engine's thread holds it, and the engine may wait
    // for that listener while it deletes the capturer.
    deleteScreenSourceCpaturer(handle_);
}

void ScreenSources::exclude(uint64_t nativeWindowId) {
    if (handle_ > 0)
        setExcludedWindow(handle_, nativeWindowId);
}

int ScreenSources::count() const {
    return handle_ > 0 ? qMax(0, getSourceNum(handle_)) : 0;
}

bool ScreenSources::captureThumbnails() {
    return handle_ > 0 && asynCaptureAllScreenOnece(handle_, &deliverThumbnail, keyOf(handle_), 0) == 0;
}

int ScreenSources::switchTo(int index) {
    return handle_ > 0 ? switchDesktopSource(handle_, index) : ZUWEBRTC_EHANDLE;
}
