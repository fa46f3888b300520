#include <QtTest>

#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

#include "report/reportform.h"
#include "report/reportmanager.h"
#include "support/testsupport.h"

enum Mode { Ok, ServerError, Close, Hang, NoServer };

static QByteArray signOf(const QByteArray &query) {
    return QCryptographicHash::hash(query + "lapto.rn$#@_()", QCryptographicHash::Md5).toHex();
}
// The state file's text for a report days after today.
static QByteArray stateText(qint64 days) {
    const qint64 today = ReportForm::dayNumber(QDateTime::currentDateTime());
    return "{\"last_report_time\":" + QByteArray::number(today + days) + "}\n";
}

// An HTTP/1.1 server on loopback that records each request (head and body) and answers as told.
struct HttpStub : QTcpServer {
    explicit HttpStub(Mode mode) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, mode] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, mode] {
                QByteArray &buffer = buffers[socket];
                buffer += socket->readAll();
                const int end = buffer.indexOf("\r\n\r\n") + 4;
                const QRegularExpression length("(?i)content-length: *(\\d+)");
                const int bodySize = length.match(buffer.left(end)).captured(1).toInt();
                if (end < 4 || buffer.size() < end + bodySize) {
                    return;
                }
                requests.append({buffer.left(end), buffer.mid(end, bodySize)});
                buffer.remove(0, end + bodySize);
                if (mode == Close) {
                    socket->abort();
                } else if (mode != Hang) {
                    socket->write(mode == Ok
                                      ? "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n{\"code\":0}\n"
                                      : "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
                }
            });
        });
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

    QMap<QTcpSocket *, QByteArray> buffers;
    QList<QPair<QByteArray, QByteArray>> requests;
};

class TestReport : public QObject {
    Q_OBJECT
    QTemporaryDir home_, dir_;
    QString config_;
    int cases_ = 0;

private slots:
    void initTestCase() {
        // The user's name is the last part of HOME.
        QVERIFY(QDir().mkpath(home_.filePath("Zoë 张三")));
        qputenv("HOME", home_.filePath("Zoë 张三").toUtf8());
    }
    void init() { config_ = dir_.filePath(QString("%1/zuScreenShare/config.json").arg(++cases_)); }
    void formIsByteExact() {
        ReportForm form{"0A:1B:2C:3D:4E:5F", "1.0.0",    "我的 电脑", "Zoë 张三", "1", "0",
                        "zuScreenShare",     1700000000, "debian12"};
        // Raw UTF-8, nothing percent-encoded.
        const QByteArray query =
            "mac=0A:1B:2C:3D:4E:5F&version=1.0.0&computerName=我的 电脑&userName=Zoë 张三"
            "&useState=1&type=0&content=zuScreenShare&time=1700000000";
        QCOMPARE(form.queryText(), query);
        QCOMPARE(form.body(), query + "&sign=" + signOf(query) + "&osVersion=debian12");
        // The OS version is outside the signed text; the time is inside it.
        form.osVersion = "other1";
        QCOMPARE(form.sign(), signOf(query));
        form.time = -5;
        QVERIFY(form.queryText().endsWith("&time=-5") && form.sign() == signOf(form.queryText()));
        // Days count from 2020-01-01 and seconds from 1970-01-01, both in local time.
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 1), QTime(23, 59, 59))), 0);
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2021, 1, 1), QTime(12, 0))), 366);
        QCOMPARE(ReportForm::localSeconds(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 1577836800);
        QCOMPARE(ReportManager().configPath(), QDir::tempPath() + "/zuScreenShare/config.json");
        // Without a server URL nothing is sent and nothing is written.
        ReportManager(config_, QString()).report().waitForFinished();
        QVERIFY(!QFileInfo::exists(QFileInfo(config_).absolutePath()));
        QVERIFY(!ReportManager(config_, "ftp://127.0.0.1/x").enabled());
        QCOMPARE(ReportManager(config_, "http://127.0.0.1:8/base/").reportUrl(),
                 "http://127.0.0.1:8/base/prod/zuScreenShare/useReport/v1?");
    }
    void oncePerDay_data() {
        QTest::addColumn<QByteArray>("state");  // the state file's text before; "none", "folder" or "link"
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("requests");      // -1: at least one
        QTest::addColumn<QByteArray>("after");  // the text after, "unchanged", "none" or "folder"
        const QByteArray none("none"), unchanged("unchanged");
        QTest::newRow("first run") << none << int(Ok) << 1 << stateText(0);
        QTest::newRow("reported today") << stateText(0) << int(Ok) << 0 << unchanged;
        QTest::newRow("reported yesterday") << stateText(-1) << int(Ok) << 1 << stateText(0);
        QTest::newRow("a day in the future") << stateText(400) << int(Ok) << 1 << stateText(0);
        QTest::newRow("server error") << stateText(-1) << int(ServerError) << 1 << unchanged;
        QTest::newRow("dropped connection") << none << int(Close) << -1 << none;
        QTest::newRow("nobody listening") << none << int(NoServer) << 0 << none;
        QTest::newRow("request times out") << none << int(Hang) << 1 << none;
        // The JSON reader once had no nesting limit ("nested too deep").
        const QByteArray broken[] = {"{\"last_report_time\":", "[1,2]", "{\"last_report_time\":\"x\"}",
                                     QByteArray("\0\xff", 2), QByteArray(1000, '[')};
        for (const QByteArray &text : broken) {
            QTest::newRow(text.size() > 100 ? "nested too deep" : text.constData())
                << text << int(Ok) << 1 << stateText(0);
        }
        // A folder where the file should be: the report goes out, the day cannot be recorded.
        QTest::newRow("state is a folder") << QByteArray("folder") << int(Ok) << 1 << QByteArray("folder");
        // Another local user's link at the state file's name: no report, nothing written through it.
        QTest::newRow("state is a link") << QByteArray("link") << int(Ok) << 0 << none;
    }
    void oncePerDay() {
        QFETCH(QByteArray, state);
        QFETCH(int, mode);
        QFETCH(int, requests);
        QFETCH(QByteArray, after);
        ZU_REQUIRE_TEST_NAMESPACE();
        HttpStub server{Mode(mode)};
        const QString elsewhere = dir_.filePath(QString("elsewhere%1.json").arg(cases_));
        QVERIFY(state == "none" ||
                QDir().mkpath(state == "folder" ? config_ : QFileInfo(config_).absolutePath()));
        QFile file(config_);
        QVERIFY(state == "none" || state == "folder" ||
                (state == "link" ? QFile::link(elsewhere, config_)
                                 : file.open(QIODevice::WriteOnly) && file.write(state) == state.size()));
        file.close();
        const qint32 before = ReportForm::localSeconds(QDateTime::currentDateTime());
        ReportManager manager(config_, mode == NoServer ? "http://127.0.0.1:9" : server.baseUrl());
        manager.setRequestTimeout(mode == Hang ? 400 : 5000);
        QFuture<void> future = manager.report();
        QVERIFY(QTest::qWaitFor([&] { return future.isFinished(); }, 15000));
        const qint32 end = ReportForm::localSeconds(QDateTime::currentDateTime());
        QVERIFY(requests < 0 ? !server.requests.isEmpty() : server.requests.size() == requests);
        if (after == "folder" || after == "none") {
            QCOMPARE(QFileInfo(config_).isDir(), after == "folder");
            QCOMPARE(QFileInfo::exists(config_), after == "folder");
        } else {
            QCOMPARE(testsupport::readFile(config_), after == "unchanged" ? state : after);
            // A state file the manager writes is readable by its user only.
            QVERIFY(after == "unchanged" ||
                    !(QFileInfo(config_).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)));
        }
        QVERIFY(!QFileInfo::exists(elsewhere));
        if (QByteArray(QTest::currentDataTag()) != "first run") {
            return;
        }
        // This machine's form: a real interface's address (not zeros), host name, HOME's last part, the time.
        const QByteArray head = server.requests[0].first, body = server.requests[0].second;
        QVERIFY(head.startsWith("POST /prod/zuScreenShare/useReport/v1? HTTP/1.1\r\n") &&
                head.toLower().contains("\r\ncontent-type: application/x-www-form-urlencoded\r\n"));
        const ReportForm form{QString::fromUtf8(body.mid(4, body.indexOf('&') - 4)),
                              "1.0.0",
                              QHostInfo::localHostName(),
                              "Zoë 张三",
                              "1",
                              "0",
                              "zuScreenShare",
                              body.left(body.indexOf("&sign=")).split('=').last().toInt(),
                              QSysInfo::productType() + QSysInfo::productVersion()};
        QVERIFY(body == form.body() && form.time >= before && form.time <= end);
        const auto all = QNetworkInterface::allInterfaces();
        QVERIFY(form.mac != "00:00:00:00:00:00" && std::any_of(all.begin(), all.end(), [&](const auto &i) {
                    return !i.flags().testFlag(QNetworkInterface::IsLoopBack) &&
                           i.hardwareAddress() == form.mac;
                }));
    }
    void destroyWhileInFlight() {
        ZU_REQUIRE_TEST_NAMESPACE();
        HttpStub server(Hang);
        auto manager = std::make_unique<ReportManager>(config_, server.baseUrl());
        manager->setRequestTimeout(120000);
        QFuture<void> first = manager->report(), second = manager->report();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 2, 10000);
        QVERIFY(!first.isFinished());
        // Far below the request's own time-out: destruction cuts the request short instead of waiting it out.
        QElapsedTimer timer;
        timer.start();
        manager.reset();
        QVERIFY(timer.elapsed() < 60000);
        QVERIFY(first.isFinished() && second.isFinished() && !QFileInfo::exists(config_));
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
