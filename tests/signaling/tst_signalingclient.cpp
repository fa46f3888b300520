#include <QWebSocketServer>
#include <QtTest>

#include "signaling/signalingclient.h"
#include "support/testsupport.h"
#include "testpeer.h"

using namespace wiretext;

// The server's own messages come without a sender.
static QString dataMessage(const char *dataType, const char *id, const char *sender = "") {
    return QStringLiteral(R"({"type":"data","sender":"%3","data":{"data_type":"%1","id":"%2"}})")
        .arg(dataType, id, sender);
}

static const QString kOwnerRequest = message("ctrl", body("null", "request", "", "owner"));

class TestSignalingClient : public QObject {
    Q_OBJECT

    std::unique_ptr<QWebSocketServer> server_;  // scripted here: records every text the client sends
    std::unique_ptr<QWebSocket> socket_;
    QStringList received_;
    std::unique_ptr<SignalingClient> client_;
    std::unique_ptr<QObject> context_;  // receives the signals; its end drops any still queued
    QStringList events_;                // the client's signals as "event|argument|..."

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/x").arg(server_->serverPort())); }
    void send(const QString &t) {
        t.startsWith("bin:") ? socket_->sendBinaryMessage(t.mid(4).toUtf8()) : socket_->sendTextMessage(t);
    }
    static QString part(const QString &s) { return s; }
    static QString part(int i) { return QString::number(i); }
    static QString part(const QList<SignalingUser> &users) {
        QStringList parts;
        for (const SignalingUser &u : users) {
            parts << QStringLiteral("%1/%2/%3").arg(u.id, u.nickname).arg(u.devicetype);
        }
        return parts.join(',');
    }

    bool connectClient() {
        client_->postConnectServer(url());
        return testsupport::waitUntil([&] { return events_ == QStringList{"connected"} && socket_; }, 5000);
    }

private slots:
    void initTestCase() { ZU_REQUIRE_TEST_NAMESPACE(); }

    void init() {
        server_ = std::make_unique<QWebSocketServer>(QStringLiteral("fake"), QWebSocketServer::NonSecureMode);
        QVERIFY(server_->listen(QHostAddress::LocalHost, 0));
        connect(server_.get(), &QWebSocketServer::newConnection, this, [this] {
            socket_.reset(server_->nextPendingConnection());
            connect(socket_.get(), &QWebSocket::textMessageReceived, this,
                    [this](QString t) { received_ << t; });
        });
        client_ = std::make_unique<SignalingClient>();
        context_ = std::make_unique<QObject>();
        // Through queued connections: the signals come from the client's worker thread.
        const auto on = [this](auto signal, const char *event) {
            connect(client_.get(), signal, context_.get(), [this, event](const auto &...args) {
                QStringList parts{event};
                ((parts << part(args)), ...);
                events_ << parts.join('|');
            });
        };
        on(&SignalingClient::sigConnected, "connected");
        on(&SignalingClient::sigConnectFail, "connectFail");
        on(&SignalingClient::sigDisConnected, "disconnected");
        on(&SignalingClient::sigAdmissionWaiting, "admissionWaiting");
        on(&SignalingClient::sigAdmitted, "admitted");
        on(&SignalingClient::sigSdpArrived, "sdp");
        on(&SignalingClient::sigShareSdpArrived, "shareSdp");
        on(&SignalingClient::sigIceCandidateArrived, "ice");
        on(&SignalingClient::sigShareIceCandidateArrived, "shareIce");
        on(&SignalingClient::sigAlluserRefreshed, "users");
        on(&SignalingClient::sigRequestShareScreen, "requestShare");
        on(&SignalingClient::sigCloseShareScreen, "closeShare");
    }

    void cleanup() {
        client_.reset();
        context_.reset();
        socket_.reset();
        server_.reset();
        received_.clear();
        events_.clear();
    }

    // Byte for byte what goes out, nothing before connecting; the owner request repeats until answered.
    void outgoingTexts() {
        client_->sendText(QStringLiteral("early"));
        client_->requestAllUser();
        client_->cutOff(QStringLiteral("{x}"));
        client_->setNickName(QString::fromUtf8("\xe6\x9d\x8e\xe5\x9b\x9b"));
        QVERIFY(connectClient());
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY(received_.size() >= 2);
        QCOMPARE(received_.mid(0, 2),
                 (QStringList{
                     message("ctrl", body(R"({"data":"\u674e\u56db","modify_type":"nickname"})", "modify")),
                     kOwnerRequest}));
        // Once the id is known, a new nickname is declared at once; requests carry the id.
        send(dataMessage("id", "{me}"));
        QTRY_COMPARE(client_->myId(), QStringLiteral("{me}"));
        client_->setNickName(QStringLiteral("wang"));
        client_->requestAllUser();
        client_->cutOff(QStringLiteral("{victim}"));
        client_->sendText(QStringLiteral("late"));
        QTRY_VERIFY(received_.contains(QStringLiteral("late")));
        // Less the owner requests, which go on until the owner is known.
        QCOMPARE(received_.mid(1).filter(QRegularExpression(R"(^(?!.*"request_data":"owner"))")),
                 (QStringList{
                     message("ctrl", body(R"({"data":"wang","modify_type":"nickname"})", "modify"), "{me}"),
                     message("ctrl", body("null", "request", "", "allUser"), "{me}"),
                     message("ctrl", body("null", "request", "{victim}", "cut_off")), "late"}));
        const auto asked = [this] { return received_.filter("\"request_data\":\"owner\"").size(); };
        QTRY_VERIFY_WITH_TIMEOUT(asked() >= 5, 5000);
        QVERIFY(clock.elapsed() >= 4 * 200 - 50);  // four retry periods of 200 ms
        send(dataMessage("owner", "{the-owner}"));
        QTRY_COMPARE(client_->ownerId(), QStringLiteral("{the-owner}"));
        const int settled = asked();  // one request may have crossed the answer; then the asking stops
        QTest::qWait(600);
        QVERIFY(asked() <= settled + 1);
    }

    void connectionEvents() {
        client_->postConnectServer(QUrl("ws://127.0.0.1:1/x"));  // nothing listens in the namespace
        QTRY_COMPARE(events_, QStringList{"connectFail"});
        // A later attempt makes a new socket and can succeed; either end closing is reported once.
        client_->postConnectServer(url());
        QTRY_VERIFY(socket_);
        socket_->close();
        QTRY_COMPARE(events_, (QStringList{"connectFail", "connected", "disconnected"}));
        client_->postConnectServer(url());
        QTRY_COMPARE(events_.count("connected"), 2);
        client_->postCloseConnect();
        QTRY_COMPARE(events_,
                     (QStringList{"connectFail", "connected", "disconnected", "connected", "disconnected"}));
        client_->postConnectServer(url());
        client_.reset();  // destroyed while still connecting
    }

    void messagesBecomeSignals_data() {
        QTest::addColumn<QString>("sent");  // "bin:" sends the rest as a binary frame
        QTest::addColumn<QString>("event");
        const auto sdp = [](const char *type, const char *sdpType, const char *sender) {
            return text(testmsg::sdp(type, "{me}", sdpType, "v=0 a", sender));
        };
        const auto from = [](Json::Value m, const char *sender) {
            m["sender"] = sender;
            return text(m);
        };
        const auto ice = [&](const char *type, const char *sender) {
            return from(testmsg::ice(type, "{me}", "candidate:1"), sender);
        };
        const auto row = [](const char *name, const QString &sent, const QString &event = {}) {
            QTest::newRow(name) << sent << event;
        };
        row("sdp offer", sdp("sdp", "offer", "{host}"), "sdp|1|v=0 a|{host}");
        row("sdp other than offer", sdp("sdp", "Offer", "{host}"), "sdp|2|v=0 a|{host}");
        row("sdp without payload", R"({"type":"data","sender":"{host}","data":{"data_type":"sdp"}})",
            "sdp|2||{host}");
        row("candidate", ice("ice_candidate", "{host}"), "ice|candidate:1|1|video0|{host}");
        row("share sdp", sdp("share_screen_sdp", "offer", "{phone}"), "shareSdp|1|v=0 a|{phone}");
        row("share candidate", ice("share_screen_ice_candidate", "{phone}"),
            "shareIce|candidate:1|1|video0|{phone}");
        row("empty member list", R"({"type":"data","data":{"data_type":"allUser","data":null}})", "users|");
        row("member list",
            QString::fromUtf8(
                R"({"type":"data","data":{"data_type":"allUser","data":[)"
                R"({"id":"{a}","nickname":"张","devicetype":"1"},{"id":"{b}","nickname":"b","devicetype":1}]}})"),
            QString::fromUtf8("users|{a}/张/1,{b}/b/0"));
        row("share request", from(testmsg::request("share"), "{phone}"), "requestShare|{phone}");
        row("stop_share", from(testmsg::request("stop_share"), "{phone}"), "closeShare|{phone}");
        row("other request", from(testmsg::request("agree_share"), "{host}"));
        row("share id", dataMessage("share_id", "{sid}"));
        // Admission answers count only from the host; the server's own answers only without a sender.
        row("admit_wait from the host", dataMessage("admit_wait", "", "{host}"), "admissionWaiting");
        row("admit_ok from the host", dataMessage("admit_ok", "", "{host}"), "admitted");
        row("admit_ok from a member", dataMessage("admit_ok", "", "{phone}"));
        row("admit_ok from nobody", dataMessage("admit_ok", ""));
        for (const char *type : {"owner", "id", "allUser"}) {
            row(type, dataMessage(type, "{a-member}", "{a-member}"));
        }
        row("not json", "this is not json");
        row("unknown type", R"({"type":"other","data":{"data_type":"sdp"}})");
        row("data not an object", R"({"type":"data","data":5})");
        row("binary frame", R"(bin:{"type":"data","data":{"data_type":"sdp"}})");
        const std::string big(64 * 1024, 'b');
        row("sdp of a realistic size", text(testmsg::sdp("sdp", "{me}", "offer", big, "{host}")),
            "sdp|1|" + QString::fromStdString(big) + "|{host}");
        row("over the size limit",
            text(testmsg::sdp("sdp", "", "offer", std::string(1536 * 1024, 'z'), "{big}")));
    }

    void messagesBecomeSignals() {
        QFETCH(QString, sent);
        QFETCH(QString, event);
        QVERIFY(connectClient());
        send(dataMessage("owner", "{host}"));
        QTRY_COMPARE(client_->ownerId(), QStringLiteral("{host}"));
        send(sent);
        // Once the signal of a message sent after it is there, the row's message was handled.
        send(text(testmsg::sdp("sdp", "{me}", "answer", "v=0 after", "{host}")));
        QStringList expected = QStringList{"connected", event, "sdp|2|v=0 after|{host}"};
        expected.removeAll(QString());
        (void)testsupport::waitUntil([&] { return events_.size() >= expected.size(); }, 5000);
        QCOMPARE(events_, expected);
        QCOMPARE(client_->ownerId(), QStringLiteral("{host}"));
        QCOMPARE(client_->myId(), QString());
    }
};

QTEST_GUILESS_MAIN(TestSignalingClient)
#include "tst_signalingclient.moc"
