#include <QtTest>

#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

#include "report/reportform.h"
#include "report/reportmanager.h"
#include "support/testsupport.h"

namespace {

enum Mode { Ok, ServerError, Close, Hang, NoServer };

QByteArray signOf(const QByteArray &query) {
    return QCryptographicHash::hash(query + "lapto.rn$#@_()", QCryptographicHash::Md5).toHex();
}
QByteArray stateText(qint64 day) {
    return "{\"last_report_time\":" + QByteArray::number(day) + "}\n";
}
qint64 today() {
    return ReportForm::dayNumber(QDateTime::currentDateTime());
}

// An HTTP/1.1 server on loopback that records each request (head and body) and answers as told.
class HttpStub : public QObject {
public:
    explicit HttpStub(Mode mode) {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this, mode] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, mode] {
                buffers[socket] += socket->readAll();
                QByteArray &buffer = buffers[socket];
                const int end = buffer.indexOf("\r\n\r\n") + 4;
                const QRegularExpression length("content-length: *(\\d+)",
                                                QRegularExpression::CaseInsensitiveOption);
                const int bodySize = length.match(buffer.left(end)).captured(1).toInt();
                if (end < 4 || buffer.size() < end + bodySize) {
                    return;
                }
                requests.append({buffer.left(end), buffer.mid(end, bodySize)});
                buffer.remove(0, end + bodySize);
                if (mode == Ok || mode == ServerError) {
                    socket->write(mode == Ok
                                      ? "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n{\"code\":0}\n"
                                      : "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
                } else if (mode == Close) {
                    socket->abort();
                }
            });
        });
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QMap<QTcpSocket *, QByteArray> buffers;
    QList<QPair<QByteArray, QByteArray>> requests;
};

}  // namespace

class TestReport : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString config_;

    bool runOnce(const QString &baseUrl, int timeoutMs = 5000) {
        ReportManager manager(config_, baseUrl);
        manager.setRequestTimeout(timeoutMs);
        QFuture<void> future = manager.report();
        return QTest::qWaitFor([&] { return future.isFinished(); }, timeoutMs + 10000);
    }

private slots:
    void initTestCase() {
        // The user's name is the last part of HOME.
        QVERIFY(QDir().mkpath(home_.filePath(QStringLiteral("Zoë 张三"))));
        qputenv("HOME", home_.filePath(QStringLiteral("Zoë 张三")).toUtf8());
    }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        config_ = dir_->filePath(QStringLiteral("zuScreenShare/config.json"));
    }

    void formIsByteExact() {
        ReportForm form;
        form.mac = QStringLiteral("0A:1B:2C:3D:4E:5F");
        form.computerName = QStringLiteral("我的 电脑");
        form.userName = QStringLiteral("Zoë 张三");
        form.time = 1700000000;
        form.osVersion = QStringLiteral("debian12");
        // Raw UTF-8, nothing percent-encoded.
        const QByteArray query =
            "mac=0A:1B:2C:3D:4E:5F&version=1.0.0&computerName=我的 电脑&userName=Zoë 张三"
            "&useState=1&type=0&content=zuScreenShare&time=1700000000";
        QCOMPARE(form.queryText(), query);
        QCOMPARE(form.body(), query + "&sign=" + signOf(query) + "&osVersion=debian12");
        // The OS version is outside the signed text; the time is inside it.
        form.osVersion = QStringLiteral("other1");
        QCOMPARE(form.sign(), signOf(query));
        form.time = -5;
        QVERIFY(form.queryText().endsWith("&time=-5"));
        QCOMPARE(form.sign(), signOf(form.queryText()));
    }

    void dayAndSecondNumbers() {
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 0);
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 1), QTime(23, 59, 59))), 0);
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 2), QTime(0, 0, 1))), 1);
        QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2021, 1, 1), QTime(12, 0))), 366);
        QCOMPARE(ReportForm::localSeconds(QDateTime(QDate(1970, 1, 2), QTime(0, 0, 5))), 86405);
        QCOMPARE(ReportForm::localSeconds(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 1577836800);
    }

    void addressesAndDefaults() {
        QCOMPARE(ReportManager().configPath(),
                 QDir::tempPath() + QStringLiteral("/zuScreenShare/config.json"));
        // Without a server URL nothing is sent and nothing is written.
        ReportManager(config_, QString()).report().waitForFinished();
        QVERIFY(!QFileInfo::exists(QFileInfo(config_).absolutePath()));
        QVERIFY(!ReportManager(config_, QStringLiteral("ftp://127.0.0.1/x")).enabled());
        QCOMPARE(ReportManager(config_, QStringLiteral("http://127.0.0.1:8/base/")).reportUrl(),
                 QStringLiteral("http://127.0.0.1:8/base/prod/zuScreenShare/useReport/v1?"));
    }

    void oncePerDay_data() {
        QTest::addColumn<QByteArray>("state");  // the state file's text before; "none", "folder" or "link"
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("requests");      // -1: at least one
        QTest::addColumn<QByteArray>("after");  // the text after, "unchanged", "none" or "folder"
        const QByteArray yesterday = stateText(today() - 1);
        QTest::newRow("first run") << QByteArray("none") << int(Ok) << 1 << stateText(today());
        QTest::newRow("reported today") << stateText(today()) << int(Ok) << 0 << QByteArray("unchanged");
        QTest::newRow("reported yesterday") << yesterday << int(Ok) << 1 << stateText(today());
        QTest::newRow("a day in the future")
            << stateText(today() + 400) << int(Ok) << 1 << stateText(today());
        QTest::newRow("server error") << yesterday << int(ServerError) << 1 << QByteArray("unchanged");
        QTest::newRow("dropped connection") << QByteArray("none") << int(Close) << -1 << QByteArray("none");
        QTest::newRow("nobody listening") << QByteArray("none") << int(NoServer) << 0 << QByteArray("none");
        QTest::newRow("request times out") << QByteArray("none") << int(Hang) << 1 << QByteArray("none");
        // The JSON reader once had no nesting limit ("nested too deep").
        const QByteArray broken[] = {"{\"last_report_time\":", "[1,2]", "{\"last_report_time\":\"x\"}",
                                     QByteArray("\0\xff", 2), QByteArray(1000, '[')};
        for (const QByteArray &text : broken) {
            QTest::newRow(text.size() > 100 ? "nested too deep" : text.constData())
                << text << int(Ok) << 1 << stateText(today());
        }
        // A folder where the file should be: the report goes out, the day cannot be recorded.
        QTest::newRow("state is a folder") << QByteArray("folder") << int(Ok) << 1 << QByteArray("folder");
        // Another local user's link at the state file's name: no report, nothing written through it.
        QTest::newRow("state is a link") << QByteArray("link") << int(Ok) << 0 << QByteArray("none");
    }

    void oncePerDay() {
        QFETCH(QByteArray, state);
        QFETCH(int, mode);
        QFETCH(int, requests);
        QFETCH(QByteArray, after);
        ZU_REQUIRE_TEST_NAMESPACE();
        HttpStub server{Mode(mode)};
        const QString elsewhere = dir_->filePath(QStringLiteral("elsewhere.json"));
        if (state == "folder") {
            QVERIFY(QDir().mkpath(config_));
        } else if (state == "link") {
            QVERIFY(QDir().mkpath(QFileInfo(config_).absolutePath()) && QFile::link(elsewhere, config_));
        } else if (state != "none") {
            QVERIFY(QDir().mkpath(QFileInfo(config_).absolutePath()));
            QFile file(config_);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(state) == state.size());
        }
        const qint32 before = ReportForm::localSeconds(QDateTime::currentDateTime());
        QVERIFY(runOnce(mode == NoServer ? QStringLiteral("http://127.0.0.1:9") : server.baseUrl(),
                        mode == Hang ? 400 : 5000));
        const qint32 end = ReportForm::localSeconds(QDateTime::currentDateTime());
        QVERIFY(requests < 0 ? !server.requests.isEmpty() : server.requests.size() == requests);
        if (after == "folder") {
            QVERIFY(QFileInfo(config_).isDir());
        } else if (after == "none") {
            QVERIFY(!QFileInfo::exists(config_));
        } else {
            QCOMPARE(testsupport::readFile(config_), after == "unchanged" ? state : after);
            // A state file the manager writes is readable by its user only.
            QVERIFY(after == "unchanged" ||
                    !(QFileInfo(config_).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)));
        }
        QVERIFY(!QFileInfo::exists(elsewhere));

        for (const auto &request : server.requests) {
            QVERIFY(request.first.startsWith("POST /prod/zuScreenShare/useReport/v1? HTTP/1.1\r\n"));
            QVERIFY(
                request.first.toLower().contains("\r\ncontent-type: application/x-www-form-urlencoded\r\n"));
            // The form of this machine: a real interface's address (never the loopback's zeros), the
            // host's name, the last part of HOME and the time of the run.
            const QByteArray &body = request.second;
            ReportForm form;
            form.mac = QString::fromUtf8(body.mid(4, body.indexOf('&') - 4));
            form.computerName = QHostInfo::localHostName();
            form.userName = QStringLiteral("Zoë 张三");
            form.time = body.left(body.indexOf("&sign=")).split('=').last().toInt();
            form.osVersion = QSysInfo::productType() + QSysInfo::productVersion();
            QCOMPARE(body, form.body());
            QVERIFY(form.time >= before && form.time <= end);
            const auto ifaces = QNetworkInterface::allInterfaces();
            QVERIFY2(form.mac != "00:00:00:00:00:00" &&
                         std::any_of(ifaces.begin(), ifaces.end(),
                                     [&](const QNetworkInterface &i) {
                                         return !i.flags().testFlag(QNetworkInterface::IsLoopBack) &&
                                                i.hardwareAddress() == form.mac;
                                     }),
                     qPrintable(form.mac));
        }
    }

    void destroyWhileInFlight() {
        ZU_REQUIRE_TEST_NAMESPACE();
        HttpStub server(Hang);
        auto manager = std::make_unique<ReportManager>(config_, server.baseUrl());
        manager->setRequestTimeout(120000);
        QFuture<void> first = manager->report();
        QFuture<void> second = manager->report();
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 2, 10000);
        QVERIFY(!first.isFinished());
        // Far below the request's own time-out: destruction cuts the request short instead of waiting it out.
        QElapsedTimer timer;
        timer.start();
        manager.reset();
        QVERIFY2(timer.elapsed() < 60000, QByteArray::number(timer.elapsed()).constData());
        QVERIFY(first.isFinished() && second.isFinished());
        QVERIFY(!QFileInfo::exists(config_));
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
