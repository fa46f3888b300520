// Relay rate and delay of the signaling server on loopback.
// 1. An owner and 1, 3 or 5 members trade SDP-sized offers (member -> owner) and ICE candidates
//    (owner -> member) in a closed loop: messages per second and p50/p99 relay delay.
// 2. Two well-behaved members relay to each other at a steady pace while the other
//    places are taken by the owner and two idle members, without and with a sixth connection that
//    floods the server with junk, oversized or valid-but-unroutable messages, side by side; "again"
//    reconnects each time the server cuts it off, "paced" sends unroutable messages just below the
//    rate at which the server cuts a connection off.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
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

void settle(int ms) {
    (void)waitFor([] { return false; }, ms);
}

const std::string kSdpBody(4000, 'a');
const std::string kIceBody = "candidate:1 1 UDP 2122260223 10.77.0.1 50000 typ host generation 0 ufrag abcd";
const char kGhost[] = "{00000000-0000-0000-0000-000000000000}";
constexpr double kPacedBytesPerSecond = 0.6 * 1024 * 1024;

std::string message(const std::string &dataType, const std::string &target, const std::string &payload,
                    qint64 sentNs) {
    Json::Value m;
    m["type"] = "data";
    m["target"] = target;
    m["data"]["data_type"] = dataType;
    if (dataType == "sdp") {
        m["data"]["data"]["sdp_type"] = "offer";
        m["data"]["data"]["sdp"] = std::to_string(sentNs) + " " + payload;
    } else {
        m["data"]["data"]["candidate"] = std::to_string(sentNs) + " " + payload;
        m["data"]["data"]["sdp_mline_index"] = 0;
        m["data"]["data"]["sdp_mid"] = "0";
    }
    return jsontext::write(m);
}

QString qmessage(const std::string &dataType, const QString &target, const std::string &payload) {
    return QString::fromStdString(message(dataType, target.toStdString(), payload, nowNs()));
}

// The send time a relayed message carries at the start of its SDP or candidate text.
qint64 stamp(const QString &t) {
    const int at = t.indexOf(QLatin1String("\"sdp\":\""));
    const int ice = t.indexOf(QLatin1String("\"candidate\":\""));
    const int from = at >= 0 ? at + 7 : (ice >= 0 ? ice + 13 : -1);
    return from < 0 ? qint64(-1) : t.mid(from, 20).section(QLatin1Char(' '), 0, 0).toLongLong();
}

QString senderOf(const QString &t) {
    const int at = t.indexOf(QLatin1String("\"sender\":\""));
    return at < 0 ? QString() : t.mid(at + 10, 38);
}

struct Peer {
    QWebSocket socket;
    QString id;
};

// Connects one participant and waits for its id; the handler that caught the id is removed.
std::unique_ptr<Peer> connectPeer(const QUrl &url) {
    auto p = std::make_unique<Peer>();
    Peer *raw = p.get();
    QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [raw](const QString &t) {
        Json::Value v;
        if (raw->id.isEmpty() && jsontext::parse(t.toStdString(), v)) {
            raw->id = QString::fromStdString(v["data"]["id"].asString());
        }
    });
    p->socket.open(url);
    if (!waitFor([raw] { return !raw->id.isEmpty(); })) {
        return nullptr;
    }
    p->socket.disconnect();
    // The server's sockets send without delay; so do ours, or a small message would wait for the
    // acknowledgement of the one before and the figures would show our clients, not the server.
    for (QAbstractSocket *tcp : p->socket.findChildren<QAbstractSocket *>()) {
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    return p;
}

void closeAll(std::vector<std::unique_ptr<Peer>> &peers) {
    for (auto &p : peers) {
        p->socket.close();
    }
    waitFor([&] {
        return std::all_of(peers.begin(), peers.end(), [](const auto &p) {
            return p->socket.state() == QAbstractSocket::UnconnectedState;
        });
    });
    settle(200);
}

struct Delays {
    std::vector<qint64> ns;
    double p(int percent) const {
        if (ns.empty()) {
            return 0;
        }
        std::vector<qint64> sorted = ns;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, sorted.size() * size_t(percent) / 100)] / 1000.0;
    }
};

enum class Flood { None, Junk, Oversized, Unroutable, Mixed, Paced };

// One masked client text frame (mask key 0, so the payload goes as it is).
void appendFrame(std::string &out, const std::string &payload) {
    out += char(0x81);
    const size_t n = payload.size();
    if (n < 126) {
        out += char(0x80 | n);
    } else if (n <= 0xffff) {
        out += char(0x80 | 126);
        out += char(n >> 8);
        out += char(n & 0xff);
    } else {
        out += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            out += char((quint64(n) >> shift) & 0xff);
        }
    }
    out.append(4, '\0');
    out += payload;
}

// The flooding participant: a plain blocking TCP socket on a thread of its own that completes
// the WebSocket handshake and then writes pre-built frames as fast as the server takes them.
// Sending costs it next to nothing, so what is measured is the server. With `again`, it
// connects anew each time the server cuts it off.
class Flooder {
public:
    Flooder(quint16 port, Flood kind, bool again) : port_(port), kind_(kind), again_(again) {}
    ~Flooder() { stop(); }

    void start() {
        startNs_ = nowNs();
        thread_ = std::thread([this] {
            // On a LAN the flooder's own sending costs the host nothing; here it shares the cores,
            // so it yields them to the server and the measured members.
            (void)setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
            const std::string batch = buildBatch();
            do {
                if (connectOnce()) {
                    ++connections_;
                    while (!stop_.load() && writeAll(batch.data(), batch.size())) {
                        bytes_ += qint64(batch.size());
                        pace();
                    }
                }
                const int fd = fd_.exchange(-1);
                if (fd >= 0) {
                    ::close(fd);
                }
                if (!stop_.load()) {
                    ++cuts_;
                }
            } while (again_ && !stop_.load());
            endNs_ = nowNs();
        });
    }

    void stop() {
        stop_ = true;
        const int fd = fd_.load();
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    qint64 bytes() const { return bytes_.load(); }
    int connections() const { return connections_.load(); }
    int cuts() const { return cuts_.load(); }
    // How long the flood ran: until the server cut it off for good, else until now.
    double seconds() const {
        const qint64 end = endNs_.load();
        return ((end ? end : nowNs()) - startNs_) / 1e9;
    }

private:
    bool connectOnce() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            return false;
        }
        fd_ = fd;
        if (stop_.load()) {
            return false;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port_);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            return false;
        }
        const std::string hello =
            "GET /zu_remote_ctrl HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
            "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Sec-WebSocket-Version: 13\r\n\r\n";
        if (!writeAll(hello.data(), hello.size())) {
            return false;
        }
        std::string reply;
        char buf[4096];
        while (reply.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                return false;
            }
            reply.append(buf, size_t(n));
        }
        return reply.compare(0, 12, "HTTP/1.1 101") == 0;
    }

    void pace() const {
        if (kind_ == Flood::Paced) {
            // Just under what a connection may have relayed, so it is never cut off.
            const qint64 due = startNs_ + qint64(bytes_.load() / kPacedBytesPerSecond * 1e9);
            std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<qint64>(0, due - nowNs())));
        }
    }

    bool writeAll(const char *data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd_.load(), data, size, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= size_t(n);
        }
        return true;
    }

    std::string buildBatch() const {
        const std::string junk = "not json {{{ " + std::string(180, 'j');
        const std::string oversized(1536 * 1024, 'o');
        const std::string unroutable = message("sdp", kGhost, kSdpBody, 1);
        std::string out;
        switch (kind_) {
            case Flood::None:
                break;
            case Flood::Junk:
                while (out.size() < 256 * 1024) {
                    appendFrame(out, junk);
                }
                break;
            case Flood::Oversized:
                appendFrame(out, oversized);
                break;
            case Flood::Unroutable:
            case Flood::Paced:
                while (out.size() < 256 * 1024) {
                    appendFrame(out, unroutable);
                }
                break;
            case Flood::Mixed:
                appendFrame(out, oversized);
                while (out.size() < 2 * oversized.size()) {
                    appendFrame(out, junk);
                    appendFrame(out, unroutable);
                }
                break;
        }
        return out;
    }

    quint16 port_;
    Flood kind_;
    bool again_;
    std::atomic<int> fd_{-1};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<qint64> bytes_{0};
    std::atomic<int> connections_{0};
    std::atomic<int> cuts_{0};
    qint64 startNs_ = 0;
    std::atomic<qint64> endNs_{0};
};

struct Result {
    double perSecond = 0;
    double p50Us = 0;
    double p99Us = 0;
    double maxUs = 0;
    double floodMB = 0;
    double floodMs = 0;
    int floodConnections = 0;
    int floodCuts = 0;
};

// Owner and `members` members in a closed loop: each member offers to the owner, the owner
// answers each offer with a candidate to its sender, which offers again.
Result runMembers(const QUrl &url, int members, int durationMs) {
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i <= members; ++i) {
        // Owner first, so that it owns the path.
        peers.push_back(connectPeer(url));
        if (!peers.back()) {
            std::fprintf(stderr, "peer %d got no id\n", i);
            return {};
        }
    }
    Peer *owner = peers[0].get();
    Delays delays;
    bool running = true;
    QObject::connect(&owner->socket, &QWebSocket::textMessageReceived, [&](const QString &t) {
        const qint64 sent = stamp(t);
        const QString sender = senderOf(t);
        if (sent > 0) {
            delays.ns.push_back(nowNs() - sent);
            if (running) {
                owner->socket.sendTextMessage(qmessage("ice_candidate", sender, kIceBody));
            }
        }
    });
    for (int i = 1; i <= members; ++i) {
        Peer *p = peers[i].get();
        QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [&, p](const QString &t) {
            const qint64 sent = stamp(t);
            if (sent > 0) {
                delays.ns.push_back(nowNs() - sent);
                if (running) {
                    p->socket.sendTextMessage(qmessage("sdp", owner->id, kSdpBody));
                }
            }
        });
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= members; ++i) {
        peers[i]->socket.sendTextMessage(qmessage("sdp", owner->id, kSdpBody));
    }
    waitFor([&] { return clock.elapsed() >= durationMs; }, durationMs + 1000);
    running = false;
    Result r;
    r.perSecond = delays.ns.size() / (clock.elapsed() / 1000.0);
    r.p50Us = delays.p(50);
    r.p99Us = delays.p(99);
    closeAll(peers);
    return r;
}

// Members A and B relay to each other through the server at a steady pace well inside their
// budget (an SDP from A every 10 ms, a candidate from B every 5 ms) while the owner and two idle
// members fill the table; 100 ms after the start a sixth connection floods.
Result runPair(const QUrl &url, quint16 port, Flood kind, bool again, int durationMs) {
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 5; ++i) {
        peers.push_back(connectPeer(url));
        if (!peers.back()) {
            std::fprintf(stderr, "peer %d got no id\n", i);
            return {};
        }
    }
    Peer *a = peers[1].get();
    Peer *b = peers[2].get();
    Delays delays;
    for (Peer *p : {a, b}) {
        QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [&](const QString &t) {
            const qint64 sent = stamp(t);
            if (sent > 0) {
                delays.ns.push_back(nowNs() - sent);
            }
        });
    }
    QTimer fromA;
    QTimer fromB;
    for (QTimer *t : {&fromA, &fromB}) {
        t->setTimerType(Qt::PreciseTimer);
    }
    QObject::connect(&fromA, &QTimer::timeout,
                     [&] { a->socket.sendTextMessage(qmessage("sdp", b->id, kSdpBody)); });
    QObject::connect(&fromB, &QTimer::timeout,
                     [&] { b->socket.sendTextMessage(qmessage("ice_candidate", a->id, kIceBody)); });
    QElapsedTimer clock;
    clock.start();
    fromA.start(10);
    fromB.start(5);
    std::unique_ptr<Flooder> flooder;
    if (kind != Flood::None) {
        settle(100);
        flooder = std::make_unique<Flooder>(port, kind, again);
        flooder->start();
    }
    waitFor([&] { return clock.elapsed() >= durationMs; }, durationMs + 1000);
    fromA.stop();
    fromB.stop();
    const double seconds = clock.elapsed() / 1000.0;
    if (flooder) {
        flooder->stop();
    }
    settle(100);
    Result r;
    r.perSecond = delays.ns.size() / seconds;
    r.p50Us = delays.p(50);
    r.p99Us = delays.p(99);
    r.maxUs = delays.p(100);
    if (flooder) {
        r.floodMB = flooder->bytes() / 1e6;
        r.floodMs = flooder->seconds() * 1000;
        r.floodConnections = flooder->connections();
        r.floodCuts = flooder->cuts();
    }
    closeAll(peers);
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
    // The closed loop relays far more than any participant may (its budget would cut it off),
    // so it runs on a server with the budget lifted; the flood rows use the product's limits.
    signaling::RelayLimits lifted;
    lifted.bytesPerSecond = 1e15;
    lifted.burstBytes = 1e15;
    lifted.chargePerMessage = 0;
    lifted.nicknameDeadlineMs = 0;
    SignalingServer capacity(lifted);
    // The benchmark's members relay without joining; the product closes such connections after a
    // while, which would end a long row.
    signaling::RelayLimits product;
    product.nicknameDeadlineMs = 0;
    SignalingServer server(product);
    for (SignalingServer *s : {&capacity, &server}) {
        bool started = false;
        QObject context;
        QObject::connect(s, &SignalingServer::sigStarted, &context, [&] { started = true; });
        s->postStartListen(0);
        if (!waitFor([&] { return started; })) {
            std::fprintf(stderr, "server did not start\n");
            return 1;
        }
    }
    const auto urlOf = [](const SignalingServer &s) {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(s.listeningPort()));
    };

    std::printf("signaling relay on loopback, %d ms per row\n", durationMs);
    std::printf("closed loop (relay budget lifted): 4000-byte SDP member->owner, ICE owner->member\n");
    std::printf("%-8s %12s %10s %10s\n", "members", "relays/s", "p50 us", "p99 us");
    double base = 0;
    for (int members : {1, 3, 5}) {
        const Result r = runMembers(urlOf(capacity), members, durationMs);
        base = members == 1 ? r.p50Us : base;
        std::printf("%-8d %12.0f %10.1f %10.1f   (p50 x%.2f of 1 member)\n", members, r.perSecond, r.p50Us,
                    r.p99Us, base > 0 ? r.p50Us / base : 0.0);
    }
    const quint16 port = server.listeningPort();
    const QUrl url = urlOf(server);

    std::printf("\nmember<->member relay at a steady pace; 5 connections, a sixth floods from 100 ms on\n");
    std::printf("%-13s %9s %9s %9s %9s %7s %7s %9s %9s %6s\n", "flood", "relays/s", "p50 us", "p99 us",
                "max us", "p50 x", "p99 x", "flood MB", "flood ms", "cuts");
    struct Row {
        Flood kind;
        bool again;
        const char *name;
    };
    const Row rows[] = {{Flood::None, false, "none"},           {Flood::Junk, false, "junk"},
                        {Flood::Oversized, false, "oversized"}, {Flood::Unroutable, false, "unroutable"},
                        {Flood::Mixed, false, "mixed"},         {Flood::Junk, true, "junk, again"},
                        {Flood::Mixed, true, "mixed, again"},   {Flood::Paced, false, "paced"}};
    Result quiet;
    for (const Row &row : rows) {
        const Result r = runPair(url, port, row.kind, row.again, durationMs);
        if (row.kind == Flood::None) {
            quiet = r;
        }
        std::printf("%-13s %9.0f %9.1f %9.1f %9.0f %7.2f %7.2f %9.1f %9.0f %6d\n", row.name, r.perSecond,
                    r.p50Us, r.p99Us, r.maxUs, quiet.p50Us > 0 ? r.p50Us / quiet.p50Us : 0.0,
                    quiet.p99Us > 0 ? r.p99Us / quiet.p99Us : 0.0, r.floodMB, r.floodMs, r.floodCuts);
    }
    return 0;
}
