#include "clihost.h"

#include <unistd.h>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "rtc/originatorrtcmanager.h"
#include "rtc/screencastchoice.h"
#include "rtc/zuwebrtc.h"
#include "scan/scanserver.h"
#include "signaling/signalingclient.h"
#include "stdinlines.h"

namespace {

void say(const QString &line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

}  // namespace

CliHost::CliHost(const Options &options) : options_(options) {
    sendTimer_.setInterval(250);
    connect(&sendTimer_, &QTimer::timeout, this, &CliHost::sendToNewMembers);
}

CliHost::~CliHost() {
    manager_.reset();
    scanServer_.reset();
    if (capturer_ > 0) {
        // Unregisters the lost-display callback too, so that none arrives for a destroyed host.
        deleteScreenSourceCpaturer(capturer_);
    }
}

bool CliHost::start() {
    if (!options_.sendPath.isEmpty()) {
        const QFileInfo info(options_.sendPath);
        if (!info.isFile() || !info.isReadable()) {
            std::fprintf(stderr, "zushare-cli: cannot read the file to send: %s\n",
                         options_.sendPath.toUtf8().constData());
            return false;
        }
    }
    if (options_.synthetic) {
        if (ShareSyntheticPicture(options_.width, options_.height, options_.fps) != ZUWEBRTC_OK) {
            std::fprintf(
                stderr,
                "zushare-cli: the synthetic picture must be 16 to 4096 pixels a side at 1 to 60 fps\n");
            return false;
        }
    } else {
        const bool wayland = UsesDesktopPortalCapture() == 1;
        if (!wayland && qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::fprintf(stderr, "zushare-cli: no X display to share: set DISPLAY or use --synthetic\n");
            return false;
        }
        capturer_ = ScreenCastChoice::createCapturer();
        if (capturer_ <= 0 || getSourceNum(capturer_) <= 0) {
            if (wayland)
                std::fprintf(stderr,
                             "zushare-cli: the desktop portal gave no screen to share (see the log)\n");
            else
                std::fprintf(stderr, "zushare-cli: the X display %s has no screen to share\n",
                             qgetenv("DISPLAY").constData());
            return false;
        }
        RegisterOnScreenSourceLost(capturer_, &CliHost::onScreenSourceLost, this);
    }
    manager_ = RtcManager::create(1);
    host_ = static_cast<OriginatorRtcManager *>(manager_.get());
    manager_->setServerPort(options_.port);
    connect(manager_.get(), &RtcManager::sigRtcStarted, this, [this] {
        started_ = true;
        say(QStringLiteral("share started on port %1").arg(host_->listeningPort()));
        manager_->signalingClient()->requestAllUser();
        sendTimer_.start();
        if (options_.discovery) {
            scanServer_ = std::make_shared<ScanServer>();
            connect(scanServer_.get(), &ScanServer::siglocalIp, this,
                    [](QString ip) { say(QStringLiteral("local ip %1").arg(ip)); });
            connect(scanServer_.get(), &ScanServer::sigListeningFail, this,
                    [] { say(QStringLiteral("discovery unavailable: UDP port 5679 is taken")); });
            scanServer_->postStartListening(5679);
        }
    });
    connect(manager_.get(), &RtcManager::sigRtcStartFailed, this, [this] {
        std::fprintf(stderr, "zushare-cli: cannot start the share: TCP port %u is in use or not available\n",
                     unsigned(options_.port));
        emit sigFinished(2);
    });
    connect(manager_.get(), &RtcManager::sigRtcStoped, this, [this] {
        say(QStringLiteral("share stopped"));
        emit sigFinished(stopping_ ? exitCode_ : 1);
    });
    connect(manager_.get(), &RtcManager::sigFileTransferBegin, this,
            [](QString id) { say(QStringLiteral("transfer begin %1").arg(id)); });
    connect(manager_.get(), &RtcManager::sigFileTransferProgressChanged, this, [](QString id, int value) {
        if (value >= 100) {
            say(QStringLiteral("transfer done %1").arg(id));
        }
    });
    connect(manager_.get(), &RtcManager::sigFileTransferFail, this,
            [](QString id, QString error) { say(QStringLiteral("transfer failed %1 %2").arg(id, error)); });
    connect(manager_->signalingClient().get(), &SignalingClient::sigAlluserRefreshed, this,
            &CliHost::onMembers);
    host_->setAskBeforeWatching(options_.askAdmission);
    if (!host_->setShareSound(options_.sound, false))
        say(QStringLiteral(
            "no sound to share: no sound server answers; the share goes on with the picture only"));
    if (options_.askAdmission) {
        connect(host_, &OriginatorRtcManager::sigAdmissionQueueChanged, this, &CliHost::askNextWaiting);
    }
    if (options_.askAdmission || options_.sound != ZUWEBRTC_SOUND_NONE) {
        answers_ = std::make_unique<StdinLines>();
        connect(answers_.get(), &StdinLines::line, this, &CliHost::onAnswerLine);
    }
    manager_->start();
    return true;
}

void CliHost::stop(int exitCode) {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    exitCode_ = exitCode;
    sendTimer_.stop();
    if (!manager_ || !started_) {
        emit sigFinished(exitCode);
        return;
    }
    manager_->stop();
    // The own connection's end reports sigRtcStoped; a server that never answers is not waited for.
    QTimer::singleShot(2000, this, [this] { emit sigFinished(exitCode_); });
}

void CliHost::onScreenSourceLost(void *self) {
    auto *host = static_cast<CliHost *>(self);
    QMetaObject::invokeMethod(
        host,
        [host] {
            std::fprintf(stderr, "zushare-cli: the X display %s is gone; the share ends\n",
                         qgetenv("DISPLAY").constData());
            host->stop(1);
        },
        Qt::QueuedConnection);
}

void CliHost::onMembers(const QList<SignalingUser> &users) {
    QHash<QString, QString> now;
    for (const SignalingUser &user : users) {
        now.insert(user.id, user.nickname);
        if (!members_.contains(user.id)) {
            say(QStringLiteral("member joined %1 %2 %3")
                    .arg(user.id, user.nickname, user.devicetype == 1 ? "mobile" : "desktop"));
        }
    }
    for (auto it = members_.constBegin(); it != members_.constEnd(); ++it) {
        if (!now.contains(it.key())) {
            say(QStringLiteral("member left %1 %2").arg(it.key(), it.value()));
        }
    }
    members_ = now;
}

void CliHost::askNextWaiting() {
    const QList<AdmissionQueue::Member> waiting = host_->waitingMembers();
    if (waiting.isEmpty()) {
        asked_.clear();
        return;
    }
    const AdmissionQueue::Member &next = waiting.first();
    if (next.id == asked_) {
        return;
    }
    asked_ = next.id;
    static const char *const kinds[] = {"desktop", "mobile", "browser"};
    say(QStringLiteral("waiting %1 %2 %3 %4 (%5 waiting): admit? y/n/a")
            .arg(next.id, next.nickname, next.address, kinds[int(next.kind)])
            .arg(waiting.size()));
}

void CliHost::onAnswerLine(const QByteArray &line) {
    if (line == "mute" || line == "unmute") {
        host_->setShareSound(options_.sound, line == "mute");
        say(QStringLiteral("sound %1").arg(line == "mute" ? "muted" : "on"));
        return;
    }
    if (asked_.isEmpty()) {
        return;
    }
    if (line == "y") {
        say(QStringLiteral("admitted %1").arg(asked_));
        host_->admit(asked_);
    } else if (line == "n") {
        say(QStringLiteral("refused %1").arg(asked_));
        host_->refuse(asked_);
    } else if (line == "a") {
        say(QStringLiteral("admitted all waiting"));
        host_->admitAllWaiting();
    }
}

void CliHost::sendToNewMembers() {
    const QList<QString> peers = host_->attendeeIds();
    for (const QString &id : peers) {
        if (!peers_.contains(id)) {
            say(QStringLiteral("peer open %1").arg(id));
        }
    }
    for (const QString &id : qAsConst(peers_)) {
        if (!peers.contains(id)) {
            say(QStringLiteral("peer closed %1").arg(id));
        }
    }
    peers_ = QSet<QString>(peers.begin(), peers.end());
    if (options_.sendPath.isEmpty()) {
        return;
    }
    const QList<QString> transferors = host_->transferorIds();
    // A member is sent the file once per data channel it opens.
    for (auto it = sentTo_.begin(); it != sentTo_.end();) {
        it = transferors.contains(*it) ? std::next(it) : sentTo_.erase(it);
    }
    for (const QString &id : transferors) {
        if (!sentTo_.contains(id)) {
            sentTo_.insert(id);
            say(QStringLiteral("sending %1 to %2").arg(options_.sendPath, id));
            host_->transferFile(id, options_.sendPath);
        }
    }
}
