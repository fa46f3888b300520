// A stranger on host 3 attacks a zushare-cli host on host 1 that shares to an attendee on host 2; after
// each attack both still work, the host's threads and memory return to their level, nothing was written.

#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include "handpeer.h"
#include "scan/scandatagram.h"
#include "sessionlan.h"
#include "transfer/transferprotocol.h"

extern "C" void __asan_init() __attribute__((weak));  // set when built with the address sanitizer

namespace {

constexpr int kJoinMs = 60000;
constexpr quint16 kSignalingPort = 5678;
constexpr quint16 kScanPort = 5679;
// A host's spare after an attack: a closing peer, the allocator's kept memory, ASan's 256 MiB quarantine.
constexpr int kSpareThreads = 4;
const qint64 kSpareKiB = (96 + (&__asan_init ? 256 : 0)) * 1024;

qint64 statusField(qint64 pid, const QString &field) {
    return QRegularExpression("\n" + field + ":\\s*(\\d+)")
        .match(testsupport::readFile(QStringLiteral("/proc/%1/status").arg(pid)))
        .captured(1)
        .toLongLong();
}

}  // namespace

class HostileLanTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(lan_.up(3), qPrintable(lan_.lan->errorString()));
        // The programs' logs/ there: other tests' runs can rotate the one shared log at any time.
        QVERIFY(QDir::setCurrent(lan_.dir.path()));
        hostHome_ = lan_.dir.filePath("host-home");
        host_ = lan_.start(1, "host",
                           {"host", "--synthetic", "--fps", "15", "--send",
                            lan_.write("payload.bin", QByteArray(300 * 1024 + 5, 'p'))},
                           {"HOME=" + hostHome_, "XDG_CONFIG_HOME=" + hostHome_ + "/.config"});
        QVERIFY2(says(host_, "share started", kJoinMs), host_->tail());
        // A link at the file's name in the attendee's folder, pointing out of it.
        outside_ = lan_.dir.filePath("outside/payload.bin");
        const QString downloads = lan_.dir.filePath("downloads-A1");
        QVERIFY(QDir().mkpath(downloads) && QFile::link(outside_, downloads + "/payload.bin"));
        attendee_ = lan_.watch(2, "A1");
        QTRY_VERIFY2_WITH_TIMEOUT(attendee_->totalFrames() > 15 || attendee_->ended(), attendee_->tail(),
                                  kJoinMs);
        QVERIFY2(says(attendee_, "file saved", kJoinMs), attendee_->tail());
        QVERIFY2(!attendee_->has("file saved " + downloads + "/payload.bin\n"), attendee_->tail());
        QVERIFY(!QFileInfo::exists(outside_));
        QVERIFY2(says(host_, "transfer done", kJoinMs), host_->tail());

        // Every attack comes from host 3, where the engine's threads then live.
        inHost3_ = std::make_unique<testsupport::TestLan::Enter>(*lan_.lan, 3);
        QVERIFY(inHost3_->ok());
        offer_ = HandPeer().offer({}, false);
        QVERIFY(!offer_.empty());
        QTest::qWait(2000);  // the host settles to its level
        threads_ = statusField(hostPid(), "Threads");
        rssKiB_ = statusField(hostPid(), "VmRSS");
        QVERIFY(threads_ > 0 && rssKiB_ > 0);
        TestPeer *asker = connectPeer();
        asker->send(testmsg::request("owner"));
        QVERIFY(asker->waitFor("owner", 1, 10000));
        hostId_ = asker->last("owner")["data"]["id"].asString();
        attendeeId_ =
            QRegularExpression("member joined (\\S+) A1 ").match(host_->output).captured(1).toStdString();
        QVERIFY(!hostId_.empty() && !attendeeId_.empty());
    }

    // The host still shares, the attendee still watches, and the attack left nothing behind.
    void cleanup() {
        peers_.clear();
        QVERIFY2(!host_->ended() && !host_->has("share stopped"), host_->tail());
        QVERIFY2(!attendee_->ended() && !attendee_->has("stopped"), attendee_->tail());
        const qint64 frames = attendee_->totalFrames();
        QTRY_VERIFY2_WITH_TIMEOUT(attendee_->totalFrames() >= frames + 20, attendee_->tail(), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(threadsSettled(), qPrintable(QString::number(threads())), 30000);
        const qint64 rss = statusField(hostPid(), "VmRSS");
        QVERIFY2(rss <= rssKiB_ + kSpareKiB, qPrintable(QStringLiteral("%1 KiB").arg(rss)));
        // Nothing written where no attendee asked for it: not beside the link, not into the host.
        QVERIFY(!QFileInfo::exists(outside_));
        QVERIFY(
            QDir(hostHome_ + "/Downloads").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    // At the end a new attendee still joins.
    void cleanupTestCase() {
        if (!host_ || host_->ended()) {
            return;
        }
        Member *late = lan_.watch(2, "B1");
        QTRY_VERIFY2_WITH_TIMEOUT(late->totalFrames() > 15 || late->ended(), late->tail() + host_->tail(),
                                  kJoinMs);
        QVERIFY2(host_->has(" B1 desktop"), host_->tail());
    }

    // A text nested a thousand deep (it once ended every host and scanner that read it), nicknames of
    // 100 KiB and share requests by the dozen.
    void deepNestingHugeNicknamesAndRequestFloods() {
        const QByteArray bomb(1000, '[');
        QUdpSocket udp;
        for (quint16 port = kScanPort; port <= kScanPort + 9; ++port) {
            for (const QString &to : {lan_.address(1), lan_.address(2), QStringLiteral("255.255.255.255")}) {
                udp.writeDatagram(bomb, QHostAddress(to), port);
            }
        }
        TestPeer *a = joinPeer("M5"), *b = joinPeer("M6");
        a->sendRaw(QString::fromLatin1(bomb));
        a->sendRaw(QString(200, '{').replace("{", "{\"a\":"));
        for (TestPeer *p : {a, b}) {
            p->send(testmsg::nickname(std::string(100 * 1024, '\x01')));
            for (int i = 0; i < 40; ++i) {
                p->send(testmsg::request("share", hostId_));
            }
        }
        // Still answering: the server read past them; its member list came before.
        sendAll(a, {testmsg::request("allUser"), testmsg::request("owner")});
        QVERIFY(a->waitFor("owner", 1, 10000));
        for (const QString &text : a->texts) {
            QVERIFY(text.size() < 64 * 1024);
        }
    }

    // Strangers offer from churning connections; another path's owner and a member try to end the share,
    // decide projections, speak for the server, offer to the attendee, flood the host: no lasting peer.
    void noAuthorityAndNoLastingPeers() {
        for (int round = 0; round < 10; ++round) {
            TestPeer *stranger = connectPeer();
            sendAll(stranger,
                    {testmsg::sdp("sdp", hostId_, "offer", offer_),
                     testmsg::sdp("share_screen_sdp", hostId_, "offer", offer_),
                     testmsg::ice("ice_candidate", hostId_, "candidate:1 1 UDP 1 10.77.1.3 9 typ host")});
            if (round < 7) {
                stranger->socket.abort();  // a peer of one that left goes with it
            }
        }
        TestPeer *otherOwner = connectPeer(QStringLiteral("/elsewhere")), *member = joinPeer("M2");
        for (TestPeer *p : {otherOwner, member}) {
            for (const std::string &victim : {hostId_, attendeeId_}) {
                sendAll(p, {testmsg::request("cut_off", "", victim), testmsg::request("agree_share", victim),
                            testmsg::request("refuse_share", victim)});
            }
        }
        // "allUser" of another path lists nobody of this one.
        otherOwner->send(testmsg::request("allUser"));
        QVERIFY(otherOwner->waitFor("allUser", 1, 10000));
        QVERIFY(!testmsg::userIds(otherOwner->last("allUser")).contains(QString::fromStdString(attendeeId_)));
        for (const char *type : {"id", "owner", "allUser", "share_id", "admit_wait", "admit_ok"}) {
            Json::Value m = testmsg::message("data", attendeeId_, type);
            m["data"]["id"] = "{00000000-0000-0000-0000-000000000001}";
            member->send(m);
        }
        sendAll(member, {testmsg::sdp("sdp", attendeeId_, "offer", offer_),
                         testmsg::sdp("sdp", attendeeId_, "answer", offer_)});
        for (int i = 0; i < 50; ++i) {
            member->send(testmsg::ice(
                "ice_candidate", attendeeId_,
                "candidate:1 1 UDP 2122252543 10.77.1.3 " + std::to_string(40000 + i) + " typ host"));
        }
        // Well inside the deadline of an unconnected peer: none was made; only the host admits.
        QTest::qWait(3000);
        QVERIFY2(threadsSettled(), qPrintable(QString::number(threads())));
        QVERIFY2(!attendee_->has("waiting for the host") && !attendee_->has("let in"), attendee_->tail());
        sendAll(member, {testmsg::sdp("sdp", hostId_, "offer", offer_),
                         testmsg::sdp("share_screen_sdp", hostId_, "offer", offer_)});
        for (int i = 0; i < 2000; ++i) {
            member->send(testmsg::ice("ice_candidate", hostId_,
                                      "candidate:" + std::to_string(i) + " 1 UDP 2122252543 10.77.1." +
                                          std::to_string(100 + i % 100) + " " + std::to_string(20000 + i) +
                                          " typ host"));
            member->send(
                testmsg::ice("ice_candidate", hostId_, "candidate:1 1 UDP 1 attacker.example 9 typ host"));
        }
        // The unconnected peer is forgotten after the host's deadline (15 s); the settling checks wait.
        QTest::qWait(2000);
    }

    // Queries from a spoofable source get a few answers a second, not one each.
    void discoveryIsNoAmplifierAndTakesNoForgery() {
        QUdpSocket udp;
        // Answers go to the broadcast addresses of the asker's subnet.
        QVERIFY(udp.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        const QByteArray query = ScanDatagram::encode(ScanDatagram::kClientType, ScanDatagram::newId());
        for (int i = 0; i < 300; ++i) {
            udp.writeDatagram(query, QHostAddress(lan_.address(1)), kScanPort);
        }
        QTest::qWait(1500);
        QList<QByteArray> answers;
        while (udp.hasPendingDatagrams()) {
            answers << udp.receiveDatagram().data();
        }
        // Each answer goes out twice (the subnet's and the limited broadcast): unlimited would be 600.
        QVERIFY2(!answers.isEmpty() && answers.size() <= 60, qPrintable(QString::number(answers.size())));
        // The host's own id in an announcement from here: its page would show this address to phones.
        ScanDatagram host;
        QVERIFY(ScanDatagram::parse(answers.last(), host) && host.isServer());
        udp.writeDatagram(ScanDatagram::encode(ScanDatagram::kServerType, host.msgId),
                          QHostAddress(lan_.address(1)), kScanPort);
        QTest::qWait(1000);
        QVERIFY2(!host_->has("local ip " + lan_.address(3)), host_->tail());
    }

    // A member with a real data channel offers the host a file: a host takes none.
    void hostTakesNoFileFromAMember() {
        HandPeer member;
        joinPeer("M7", &member.signaling);
        member.offer(hostId_, false);
        QVERIFY2(QTest::qWaitFor([&] { return member.pump() && member.channelOpen; }, 30000), host_->tail());
        uint8_t package[transferprotocol::kControlPackageSize] = {};
        QVERIFY(transferprotocol::writeControl(package, "send_req", "begin", "planted.bin", 1000));
        // Refused unanswered and logged; a host that took it would make the file in its Downloads at once.
        QTRY_VERIFY_WITH_TIMEOUT((SendDataViaDataChannel(member.pc, package, sizeof package),
                                  testsupport::readFile("logs/zu_share_log.txt")
                                      .contains("refused a file that a member offered to this host")),
                                 10000);
    }

    // Another web page's origin at the signaling port, clients that trickle their requests, and idle sockets,
    // which once held every member slot for ever.
    void foreignPagesSlowClientsAndIdleSockets() {
        for (int i = 0; i < 5; ++i) {
            connectPeer();  // idle: peers_ holds just these
        }
        TestPeer page;
        QNetworkRequest request(
            QUrl(QStringLiteral("ws://%1:%2/zu_remote_ctrl").arg(lan_.address(1)).arg(kSignalingPort)));
        request.setRawHeader("Origin", "http://attacker.example");
        page.socket.open(request);
        QVERIFY(QTest::qWaitFor(
            [&] { return page.closed || page.socket.state() == QAbstractSocket::UnconnectedState; }, 10000));
        QVERIFY(!page.everConnected);

        QTcpSocket slow[16];
        for (QTcpSocket &s : slow) {
            s.connectToHost(QHostAddress(lan_.address(1)), 5677);
        }
        const auto open = [&] {
            return std::count_if(std::begin(slow), std::end(slow),
                                 [](QTcpSocket &s) { return s.state() == QAbstractSocket::ConnectedState; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(open() > 0, 5000);
        QElapsedTimer held;
        held.start();
        while (open() > 0 && held.elapsed() < 20000) {
            for (QTcpSocket &s : slow) {
                if (s.state() == QAbstractSocket::ConnectedState) {
                    s.write("G");
                }
            }
            QTest::qWait(1000);  // the request trickles in a byte a second
        }
        QVERIFY2(open() == 0, qPrintable(QString::number(held.elapsed())));
        for (auto &p : peers_) {
            QVERIFY(p->waitClosed(20000));
        }
    }

private:
    TestPeer *connectPeer(const QString &path = QStringLiteral("/zu_remote_ctrl"), TestPeer *peer = nullptr) {
        peer = peer ? peer : peers_.emplace_back(std::make_unique<TestPeer>()).get();
        peer->open(kSignalingPort, path, lan_.address(1));
        peer->waitId(10000);
        return peer;
    }
    TestPeer *joinPeer(const std::string &nickname, TestPeer *peer = nullptr) {
        peer = connectPeer(QStringLiteral("/zu_remote_ctrl"), peer);
        peer->send(testmsg::nickname(nickname));
        peer->waitFor("allUser", 1, 10000);
        return peer;
    }
    static void sendAll(TestPeer *peer, std::initializer_list<Json::Value> messages) {
        for (const Json::Value &m : messages) {
            peer->send(m);
        }
    }
    qint64 hostPid() const { return qint64(host_->process->processId()); }
    qint64 threads() const { return statusField(hostPid(), "Threads"); }
    bool threadsSettled() const { return threads() <= threads_ + kSpareThreads; }

    SessionLan lan_;
    std::unique_ptr<testsupport::TestLan::Enter> inHost3_;
    QString hostHome_, outside_;
    std::string offer_;  // an engine's offer, to send by hand
    std::vector<std::unique_ptr<TestPeer>> peers_;
    Member *host_ = nullptr, *attendee_ = nullptr;
    std::string hostId_, attendeeId_;
    qint64 threads_ = 0, rssKiB_ = 0;
};

QTEST_GUILESS_MAIN(HostileLanTest)
#include "tst_hostilelan.moc"
