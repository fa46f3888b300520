#include "clihost.h"

#include <unistd.h>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "rtc/gst/zuwebrtc_testing.h"
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

CliHost::CliHost(const Options &options) : m_options(options) {
    m_sendTimer.setInterval(250);
    connect(&m_sendTimer, &QTimer::timeout, this, &CliHost::sendToNewMembers);
}

CliHost::~CliHost() {
    m_manager.reset();
    m_scanServer.reset();
    if (m_capturer > 0) {
        // Unregisters the lost-display callback too, so that none arrives for a destroyed host.
        deleteScreenSourceCpaturer(m_capturer);
    }
}

bool CliHost::start() {
    if (!m_options.sendPath.isEmpty()) {
        const QFileInfo info(m_options.sendPath);
        if (!info.isFile() || !info.isReadable()) {
            std::fprintf(stderr, "zushare-cli: cannot read the file to send: %s\n",
                         m_options.sendPath.toUtf8().constData());
            return false;
        }
    }
    if (m_options.synthetic) {
        zuengine::testing::useSyntheticPicture(m_options.width, m_options.height, m_options.fps);
    } else {
        const bool wayland = UsesDesktopPortalCapture() == 1;
        if (!wayland && qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::fprintf(stderr, "zushare-cli: no X display to share: set DISPLAY or use --synthetic\n");
            return false;
        }
        m_capturer = ScreenCastChoice::createCapturer();
        if (m_capturer <= 0 || getSourceNum(m_capturer) <= 0) {
            if (wayland)
                std::fprintf(stderr,
                             "zushare-cli: the desktop portal gave no screen to share (see the log)\n");
            else
                std::fprintf(stderr, "zushare-cli: the X display %s has no screen to share\n",
                             qgetenv("DISPLAY").constData());
            return false;
        }
        RegisterOnScreenSourceLost(m_capturer, &CliHost::onScreenSourceLost, this);
    }
    m_manager = RtcManager::create(1);
    m_host = static_cast<OriginatorRtcManager *>(m_manager.get());
    m_manager->setServerPort(m_options.port);
    connect(m_manager.get(), &RtcManager::sigRtcStarted, this, [this] {
        m_started = true;
        say(QStringLiteral("share started on port %1").arg(m_host->listeningPort()));
        m_manager->signalingClient()->requestAllUser();
        m_sendTimer.start();
        if (m_options.discovery) {
            m_scanServer = std::make_shared<ScanServer>();
            connect(m_scanServer.get(), &ScanServer::siglocalIp, this,
                    [](QString ip) { say(QStringLiteral("local ip %1").arg(ip)); });
            connect(m_scanServer.get(), &ScanServer::sigListeningFail, this,
                    [] { say(QStringLiteral("discovery unavailable: UDP port 5679 is taken")); });
            m_scanServer->postStartListening(5679);
        }
    });
    connect(m_manager.get(), &RtcManager::sigRtcStartFailed, this, [this] {
        std::fprintf(stderr, "zushare-cli: cannot start the share: TCP port %u is in use or not available\n",
                     unsigned(m_options.port));
        emit sigFinished(2);
    });
    connect(m_manager.get(), &RtcManager::sigRtcStoped, this, [this] {
        say(QStringLiteral("share stopped"));
        emit sigFinished(m_stopping ? m_exitCode : 1);
    });
    connect(m_manager.get(), &RtcManager::sigFileTransferBegin, this,
            [](QString id) { say(QStringLiteral("transfer begin %1").arg(id)); });
    connect(m_manager.get(), &RtcManager::sigFileTransferProgressChanged, this, [](QString id, int value) {
        if (value >= 100) {
            say(QStringLiteral("transfer done %1").arg(id));
        }
    });
    connect(m_manager.get(), &RtcManager::sigFileTransferFail, this,
            [](QString id, QString error) { say(QStringLiteral("transfer failed %1 %2").arg(id, error)); });
    connect(m_manager->signalingClient().get(), &SignalingClient::sigAlluserRefreshed, this,
            &CliHost::onMembers);
    m_host->setAskBeforeWatching(m_options.askAdmission);
    if (!m_host->setShareSound(m_options.sound, false))
        say(QStringLiteral(
            "no sound to share: no sound server answers; the share goes on with the picture only"));
    if (m_options.askAdmission) {
        connect(m_host, &OriginatorRtcManager::sigAdmissionQueueChanged, this, &CliHost::askNextWaiting);
    }
    if (m_options.askAdmission || m_options.sound != ZUWEBRTC_SOUND_NONE) {
        m_answers = std::make_unique<StdinLines>();
        connect(m_answers.get(), &StdinLines::line, this, &CliHost::onAnswerLine);
    }
    m_manager->start();
    return true;
}

void CliHost::stop(int exitCode) {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    m_exitCode = exitCode;
    m_sendTimer.stop();
    if (!m_manager || !m_started) {
        emit sigFinished(exitCode);
        return;
    }
    m_manager->stop();
    // The own connection's end reports sigRtcStoped; a server that never answers is not waited for.
    QTimer::singleShot(2000, this, [this] { emit sigFinished(m_exitCode); });
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
        if (!m_members.contains(user.id)) {
            say(QStringLiteral("member joined %1 %2 %3")
                    .arg(user.id, user.nickname, user.devicetype == 1 ? "mobile" : "desktop"));
        }
    }
    for (auto it = m_members.constBegin(); it != m_members.constEnd(); ++it) {
        if (!now.contains(it.key())) {
            say(QStringLiteral("member left %1 %2").arg(it.key(), it.value()));
        }
    }
    m_members = now;
}

void CliHost::askNextWaiting() {
    const QList<AdmissionQueue::Member> waiting = m_host->waitingMembers();
    if (waiting.isEmpty()) {
        m_asked.clear();
        return;
    }
    const AdmissionQueue::Member &next = waiting.first();
    if (next.id == m_asked) {
        return;
    }
    m_asked = next.id;
    static const char *const kinds[] = {"desktop", "mobile", "browser"};
    say(QStringLiteral("waiting %1 %2 %3 %4 (%5 waiting): admit? y/n/a")
            .arg(next.id, next.nickname, next.address, kinds[int(next.kind)])
            .arg(waiting.size()));
}

void CliHost::onAnswerLine(const QByteArray &line) {
    if (line == "mute" || line == "unmute") {
        m_host->setShareSound(m_options.sound, line == "mute");
        say(QStringLiteral("sound %1").arg(line == "mute" ? "muted" : "on"));
        return;
    }
    if (m_asked.isEmpty()) {
        return;
    }
    if (line == "y") {
        say(QStringLiteral("admitted %1").arg(m_asked));
        m_host->admit(m_asked);
    } else if (line == "n") {
        say(QStringLiteral("refused %1").arg(m_asked));
        m_host->refuse(m_asked);
    } else if (line == "a") {
        say(QStringLiteral("admitted all waiting"));
        m_host->admitAllWaiting();
    }
}

void CliHost::sendToNewMembers() {
    const QList<QString> peers = m_host->attendeeIds();
    for (const QString &id : peers) {
        if (!m_peers.contains(id)) {
            say(QStringLiteral("peer open %1").arg(id));
        }
    }
    for (const QString &id : m_peers) {
        if (!peers.contains(id)) {
            say(QStringLiteral("peer closed %1").arg(id));
        }
    }
    m_peers = QSet<QString>(peers.begin(), peers.end());
    if (m_options.sendPath.isEmpty()) {
        return;
    }
    const QList<QString> transferors = m_host->transferorIds();
    // A member is sent the file once per data channel it opens.
    for (auto it = m_sentTo.begin(); it != m_sentTo.end();) {
        it = transferors.contains(*it) ? std::next(it) : m_sentTo.erase(it);
    }
    for (const QString &id : transferors) {
        if (!m_sentTo.contains(id)) {
            m_sentTo.insert(id);
            say(QStringLiteral("sending %1 to %2").arg(m_options.sendPath, id));
            m_host->transferFile(id, m_options.sendPath);
        }
    }
}
