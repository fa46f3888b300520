// Relay rate and delay of the signaling server on loopback: an owner and 1, 3 or 5 members trade
// SDP-sized offers (member -> owner) and ICE candidates (owner -> member) in a closed loop, then
// the same with one member flooding the owner. Prints messages per second and p50/p99 delay.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "core/jsontext.h"
#include "signaling/server/signalingserver.h"

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool inPrivateNetns() {
    return QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net")) !=
               QFile::symLinkTarget(QStringLiteral("/proc/1/ns/net")) ||
           qEnvironmentVariableIsSet("ZU_TEST_NETNS");
}

bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Peer {
    QWebSocket socket;
    QString id;
};

QString message(const std::string &dataType, const QString &target, const std::string &payload,
                qint64 sentNs) {
    Json::Value m;
    m["type"] = "data";
    m["target"] = target.toStdString();
    m["data"]["data_type"] = dataType;
    if (dataType == "sdp") {
        m["data"]["data"]["sdp_type"] = "offer";
        m["data"]["data"]["sdp"] = std::to_string(sentNs) + " " + payload;
    } else {
        m["data"]["data"]["candidate"] = std::to_string(sentNs) + " " + payload;
        m["data"]["data"]["sdp_mline_index"] = 0;
        m["data"]["data"]["sdp_mid"] = "0";
    }
    return QString::fromStdString(jsontext::write(m));
}

// The flooding member runs on a thread of its own, so that its sending costs the bench's other
// participants nothing and only the server is shared.
class Flooder : public QObject {
public:
    Flooder(QUrl url, std::string body) : m_url(std::move(url)), m_body(std::move(body)) {}
    void start() {
        m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        QObject::connect(m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &t) {
            if (!m_id.isEmpty()) {
                return;
            }
            Json::Value v;
            if (jsontext::parse(t.toStdString(), v)) {
                m_id = QString::fromStdString(v["data"]["id"].asString());
                QMutexLocker lock(&m_lock);
                m_publicId = m_id;
            }
        });
        m_timer = new QTimer(this);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] {
            if (m_target.isEmpty()) {
                QMutexLocker lock(&m_lock);
                m_target = m_publicTarget;
            }
            while (!m_target.isEmpty() && !m_stop.load() && m_socket->bytesToWrite() < 1024 * 1024) {
                m_socket->sendTextMessage(message("sdp", m_target, m_body, nowNs()));
            }
        });
        m_timer->start(0);
        m_socket->open(m_url);
    }
    void finish() {
        m_timer->stop();
        m_socket->abort();
    }
    QString id() const {
        QMutexLocker lock(&m_lock);
        return m_publicId;
    }
    void aimAt(const QString &target) {
        QMutexLocker lock(&m_lock);
        m_publicTarget = target;
    }
    std::atomic<bool> m_stop{false};

private:
    QUrl m_url;
    std::string m_body;
    QWebSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;
    QString m_id;
    QString m_target;
    mutable QMutex m_lock;
    QString m_publicId;
    QString m_publicTarget;
};

struct Result {
    double perSecond = 0;
    double p50Us = 0;
    double p99Us = 0;
    long relays = 0;
    long flooded = 0;
};

Result run(SignalingServer &server, int members, bool flood, int durationMs) {
    const std::string sdpBody(4000, 'a');
    const std::string iceBody =
        "candidate:1 1 UDP 2122260223 10.77.0.1 50000 typ host generation 0 ufrag abcd";
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(server.listeningPort()));
    std::vector<std::unique_ptr<Peer>> peers;
    const int ordinary = flood ? members - 1 : members;
    for (int i = 0; i <= ordinary; ++i) {
        peers.push_back(std::make_unique<Peer>());
        Peer *p = peers.back().get();
        QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [p](const QString &t) {
            if (p->id.isEmpty()) {
                Json::Value v;
                if (jsontext::parse(t.toStdString(), v)) {
                    p->id = QString::fromStdString(v["data"]["id"].asString());
                }
            }
        });
        p->socket.open(url);
        // Owner first, so that it is the owner of the path.
        if (!waitFor([p] { return !p->id.isEmpty(); })) {
            std::fprintf(stderr, "peer %d got no id\n", i);
            return {};
        }
        p->socket.disconnect();
    }
    Peer *owner = peers[0].get();
    QThread floodThread;
    std::unique_ptr<Flooder> flooder;
    QString flooderId;
    if (flood) {
        flooder = std::make_unique<Flooder>(url, sdpBody);
        flooder->moveToThread(&floodThread);
        floodThread.start();
        QMetaObject::invokeMethod(
            flooder.get(), [&] { flooder->start(); }, Qt::BlockingQueuedConnection);
        if (!waitFor([&] { return !flooder->id().isEmpty(); })) {
            std::fprintf(stderr, "flooder got no id\n");
        }
        flooderId = flooder->id();
    }

    std::vector<qint64> delays;
    delays.reserve(200000);
    long flooded = 0;
    bool running = true;
    auto stamp = [](const QString &t) {
        const int at = t.indexOf(QLatin1String("\"sdp\":\""));
        const int ice = t.indexOf(QLatin1String("\"candidate\":\""));
        const int from = at >= 0 ? at + 7 : (ice >= 0 ? ice + 13 : -1);
        return from < 0 ? qint64(-1) : t.mid(from, 20).section(QLatin1Char(' '), 0, 0).toLongLong();
    };

    QObject::connect(&owner->socket, &QWebSocket::textMessageReceived, [&](const QString &t) {
        const qint64 sent = stamp(t);
        if (sent <= 0) {
            return;
        }
        const int at = t.indexOf(QLatin1String("\"sender\":\""));
        const QString sender = at < 0 ? QString() : t.mid(at + 10, 38);
        if (!flooderId.isEmpty() && sender == flooderId) {
            ++flooded;
            return;
        }
        for (auto &p : peers) {
            if (p->id == sender) {
                delays.push_back(nowNs() - sent);
                if (running) {
                    owner->socket.sendTextMessage(message("ice_candidate", sender, iceBody, nowNs()));
                }
                return;
            }
        }
    });
    for (int i = 1; i <= ordinary; ++i) {
        Peer *p = peers[i].get();
        QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [&, p](const QString &t) {
            const qint64 sent = stamp(t);
            if (sent <= 0) {
                return;
            }
            delays.push_back(nowNs() - sent);
            if (running) {
                p->socket.sendTextMessage(message("sdp", owner->id, sdpBody, nowNs()));
            }
        });
    }
    if (flooder) {
        flooder->aimAt(owner->id);
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= ordinary; ++i) {
        peers[i]->socket.sendTextMessage(message("sdp", owner->id, sdpBody, nowNs()));
    }
    waitFor([&] { return clock.elapsed() >= durationMs; }, durationMs + 1000);
    running = false;
    if (flooder) {
        flooder->m_stop = true;
        QMetaObject::invokeMethod(
            flooder.get(), [&] { flooder->finish(); }, Qt::BlockingQueuedConnection);
        floodThread.quit();
        floodThread.wait();
    }
    const double seconds = clock.elapsed() / 1000.0;
    const long relays = long(delays.size());
    waitFor([] { return false; }, 200);

    Result r;
    r.relays = relays;
    r.flooded = flooded;
    r.perSecond = relays / seconds;
    if (!delays.empty()) {
        std::vector<qint64> sorted(delays.begin(), delays.begin() + relays);
        std::sort(sorted.begin(), sorted.end());
        r.p50Us = sorted[sorted.size() / 2] / 1000.0;
        r.p99Us = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)] / 1000.0;
    }
    for (auto &p : peers) {
        p->socket.close();
    }
    waitFor([&] {
        for (auto &p : peers) {
            if (p->socket.state() != QAbstractSocket::UnconnectedState) {
                return false;
            }
        }
        return true;
    });
    waitFor([] { return false; }, 200);
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    if (!inPrivateNetns()) {
        std::fprintf(stderr,
                     "run me in a private network namespace: "
                     "unshare --net --fork -- tests/support/in-netns.sh %s\n",
                     argv[0]);
        return 2;
    }
    const int durationMs = argc > 1 ? std::max(200, atoi(argv[1])) : 2000;
    SignalingServer server;
    bool started = false;
    QObject::connect(&server, &SignalingServer::sigStarted, &app, [&] { started = true; });
    server.postStartListen(0);
    if (!waitFor([&] { return started; })) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    std::printf(
        "signaling relay on loopback, %d ms per row, 4000-byte SDP member->owner, ICE owner->member\n",
        durationMs);
    std::printf("%-8s %-8s %12s %10s %10s %12s\n", "members", "flood", "relays/s", "p50 us", "p99 us",
                "flooded/s");
    const Result base1 = run(server, 1, false, durationMs);
    for (int members : {1, 3, 5}) {
        for (bool flood : {false, true}) {
            if (flood && members < 2) {
                continue;
            }
            const Result r = (members == 1 && !flood) ? base1 : run(server, members, flood, durationMs);
            std::printf("%-8d %-8s %12.0f %10.1f %10.1f %12.0f   (p50 x%.2f of 1 member)\n", members,
                        flood ? "1 member" : "none", r.perSecond, r.p50Us, r.p99Us,
                        r.flooded / (durationMs / 1000.0), base1.p50Us > 0 ? r.p50Us / base1.p50Us : 0.0);
        }
    }
    return 0;
}
