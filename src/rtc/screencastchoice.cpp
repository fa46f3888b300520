#include "rtc/screencastchoice.h"

#include <QSettings>
#include <memory>

#include "rtc/zuwebrtc.h"

namespace {

const char *const kTokenKey = "capture/portalRestoreToken";

std::unique_ptr<QSettings> settings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zushare"),
                                       QStringLiteral("zushare"));
}

}  // namespace

int ScreenCastChoice::createCapturer() {
    if (UsesDesktopPortalCapture() != 1)
        return CreateScreenSourceCapturer();
    char token[256] = {};
    if (GetDesktopPortalRestoreToken(token, sizeof token) == 0) {
        // Nothing newer in this run: the one an earlier run kept.
        const QByteArray kept = settings()->value(kTokenKey).toString().toUtf8();
        SetDesktopPortalRestoreToken(kept.constData());
    }
    const int capturer = CreateScreenSourceCapturer();
    if (GetDesktopPortalRestoreToken(token, sizeof token) >= 0) {
        std::unique_ptr<QSettings> s = settings();
        if (token[0])
            s->setValue(kTokenKey, QString::fromUtf8(token));
        else
            s->remove(kTokenKey);
    }
    return capturer;
}

void ScreenCastChoice::askAgain() {
    AskDesktopPortalAgain();
}
