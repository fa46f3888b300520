#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "httpstub.h"
#include "report/reportform.h"
#include "report/reportmanager.h"
#include "support/testsupport.h"

namespace {

QByteArray stateText(qint64 day) {
    return "{\"last_report_time\":" + QByteArray::number(day) + "}\n";
}

qint64 today() {
    return ReportForm::dayNumber(QDateTime::currentDateTime());
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QMap<QByteArray, QByteArray> formFields(const QByteArray &body) {
    QMap<QByteArray, QByteArray> fields;
    for (const QByteArray &pair : body.split('&')) {
        const int equals = pair.indexOf('=');
        fields.insert(pair.left(equals), pair.mid(equals + 1));
    }
    return fields;
}

}  // namespace

class TestReport : public QObject {
    Q_OBJECT

private slots:
    void init();

    void queryTextOrderAndValues();
    void signCoversQueryTextOnly();
    void nonAsciiNamesStayRawUtf8();
    void dayAndSecondNumbers();
    void platformIsTheRunningOne();
    void defaultsUseTempFolderAndAreOff();
    void noUrlSendsAndWritesNothing();
    void refusesNonHttpUrl();

    void oneRequestPerDay();
    void failedRequestLeavesDayUnrecorded();
    void droppedConnectionLeavesDayUnrecorded();
    void futureDayTriggersReport();
    void malformedStateTriggersReport();
    void bodyCarriesSignedUtf8Form();
    void unwritableStateStillSends();
    void linkedStateTurnsReportingOff();
    void requestTimesOut();
    void destroyWhileInFlight();

private:
    bool runOnce(const QString &baseUrl, int timeoutMs = 5000);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_config;
};

void TestReport::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_config = m_dir->filePath(QStringLiteral("zuScreenShare/config.json"));
}

bool TestReport::runOnce(const QString &baseUrl, int timeoutMs) {
    ReportManager manager(m_config, baseUrl);
    manager.setRequestTimeout(timeoutMs);
    QFuture<void> future = manager.report();
    QElapsedTimer timer;
    timer.start();
    while (!future.isFinished() && timer.elapsed() < timeoutMs + 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return future.isFinished();
}

void TestReport::queryTextOrderAndValues() {
    ReportForm form;
    form.mac = QStringLiteral("0A:1B:2C:3D:4E:5F");
    form.computerName = QStringLiteral("box");
    form.userName = QStringLiteral("ann");
    form.time = 1700000000;
    form.osVersion = QStringLiteral("debian12");
    QCOMPARE(form.queryText(), QByteArray("mac=0A:1B:2C:3D:4E:5F&version=1.0.0&computerName=box&userName=ann"
                                          "&useState=1&type=0&content=zuScreenShare&time=1700000000"));
    form.time = -5;
    QVERIFY(form.queryText().endsWith("&time=-5"));
}

void TestReport::signCoversQueryTextOnly() {
    ReportForm form;
    form.mac = QStringLiteral("0A:1B:2C:3D:4E:5F");
    form.computerName = QStringLiteral("box");
    form.userName = QStringLiteral("ann");
    form.time = 1700000000;
    form.osVersion = QStringLiteral("debian12");
    const QByteArray expected =
        QCryptographicHash::hash(form.queryText() + "lapto.rn$#@_()", QCryptographicHash::Md5).toHex();
    QCOMPARE(form.sign(), expected);
    QCOMPARE(form.sign().size(), 32);
    QCOMPARE(form.sign(), form.sign().toLower());
    QCOMPARE(form.body(), form.queryText() + "&sign=" + expected + "&osVersion=debian12");

    // The OS version is outside the signed text; the time is inside it.
    const QByteArray before = form.sign();
    form.osVersion = QStringLiteral("other1");
    QCOMPARE(form.sign(), before);
    form.time += 1;
    QVERIFY(form.sign() != before);
}

void TestReport::nonAsciiNamesStayRawUtf8() {
    ReportForm form;
    form.computerName = QStringLiteral("我的 电脑");
    form.userName = QStringLiteral("Zoë 张三");
    form.time = 42;
    const QByteArray body = form.body();
    QVERIFY(body.contains("&computerName=\xe6\x88\x91\xe7\x9a\x84 \xe7\x94\xb5\xe8\x84\x91&"));
    QVERIFY(body.contains("&userName=Zo\xc3\xab \xe5\xbc\xa0\xe4\xb8\x89&"));
    QVERIFY(!body.contains('%'));
    const QByteArray signedPart = body.left(body.indexOf("&sign="));
    QVERIFY(signedPart.startsWith("mac=&version="));
    QVERIFY(signedPart.endsWith("&time=42"));
    QCOMPARE(form.sign(),
             QCryptographicHash::hash(signedPart + "lapto.rn$#@_()", QCryptographicHash::Md5).toHex());
}

void TestReport::dayAndSecondNumbers() {
    QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 0);
    QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 1), QTime(23, 59, 59))), 0);
    QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2020, 1, 2), QTime(0, 0, 1))), 1);
    QCOMPARE(ReportForm::dayNumber(QDateTime(QDate(2021, 1, 1), QTime(12, 0))), 366);
    QCOMPARE(ReportForm::localSeconds(QDateTime(QDate(1970, 1, 2), QTime(0, 0, 5))), 86405);
    QCOMPARE(ReportForm::localSeconds(QDateTime(QDate(2020, 1, 1), QTime(0, 0))), 1577836800);
}

void TestReport::platformIsTheRunningOne() {
    const QString platform = ReportForm::platformVersion();
    QCOMPARE(platform, QSysInfo::productType() + QSysInfo::productVersion());
    QVERIFY(!platform.startsWith(QLatin1String("windows")));
    QVERIFY(!platform.isEmpty());
}

void TestReport::defaultsUseTempFolderAndAreOff() {
    QCOMPARE(ReportManager::defaultConfigPath(),
             QDir::tempPath() + QStringLiteral("/zuScreenShare/config.json"));
    ReportManager manager;
    QCOMPARE(manager.configPath(), ReportManager::defaultConfigPath());
    QCOMPARE(manager.enabled(), !ReportManager::defaultBaseUrl().isEmpty());
}

void TestReport::noUrlSendsAndWritesNothing() {
    {
        ReportManager manager(m_config, QString());
        QVERIFY(!manager.enabled());
        QFuture<void> future = manager.report();
        future.waitForFinished();
    }
    QVERIFY(!QFileInfo::exists(QFileInfo(m_config).absolutePath()));
}

void TestReport::refusesNonHttpUrl() {
    ReportManager manager(m_config, QStringLiteral("ftp://127.0.0.1/x"));
    QVERIFY(!manager.enabled());
    ReportManager fine(m_config, QStringLiteral("http://127.0.0.1:8/base/"));
    QCOMPARE(fine.reportUrl(), QStringLiteral("http://127.0.0.1:8/base/prod/zuScreenShare/useReport/v1?"));
    QVERIFY(QFileInfo(QFileInfo(m_config).absolutePath()).isDir());
}

void TestReport::oneRequestPerDay() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    const qint64 day = today();

    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 1);
    const HttpStub::Request &request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/prod/zuScreenShare/useReport/v1?"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(testsupport::readFile(m_config), stateText(day));

    QVERIFY(runOnce(server.baseUrl()));
    QTest::qWait(200);
    if (today() != day) {
        QSKIP("the day changed during the test");
    }
    QCOMPARE(server.requests().size(), 1);
}

void TestReport::failedRequestLeavesDayUnrecorded() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    const QByteArray old = stateText(today() - 1);
    QVERIFY(writeBytes(m_config, old));

    server.setMode(HttpStub::Mode::ServerError);
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(testsupport::readFile(m_config), old);

    // A later start the same day tries again.
    server.setMode(HttpStub::Mode::Ok);
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(testsupport::readFile(m_config), stateText(today()));
}

void TestReport::droppedConnectionLeavesDayUnrecorded() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    server.setMode(HttpStub::Mode::Close);
    QVERIFY(runOnce(server.baseUrl()));
    QVERIFY(server.requests().size() >= 1);
    QVERIFY(!QFileInfo::exists(m_config));

    // Nobody listening at all.
    QVERIFY(runOnce(QStringLiteral("http://127.0.0.1:9")));
    QVERIFY(!QFileInfo::exists(m_config));
}

void TestReport::futureDayTriggersReport() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    QVERIFY(writeBytes(m_config, stateText(today() + 400)));
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(testsupport::readFile(m_config), stateText(today()));
}

void TestReport::malformedStateTriggersReport() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    const QList<QByteArray> broken = {"{\"last_report_time\":", "[1,2]", "{\"last_report_time\":\"x\"}",
                                      QByteArray("\0\xff", 2), QByteArray(1000, '[')};
    for (const QByteArray &text : broken) {
        QVERIFY(writeBytes(m_config, text));
        QVERIFY(runOnce(server.baseUrl()));
    }
    QCOMPARE(server.requests().size(), broken.size());
    QCOMPARE(testsupport::readFile(m_config), stateText(today()));
}

void TestReport::bodyCarriesSignedUtf8Form() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    const QString home = m_dir->filePath(QStringLiteral("Zoë 张三"));
    QVERIFY(QDir().mkpath(home));
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.toUtf8());
    const qint32 before = ReportForm::localSeconds(QDateTime::currentDateTime());
    const bool finished = runOnce(server.baseUrl());
    const qint32 after = ReportForm::localSeconds(QDateTime::currentDateTime());
    qputenv("HOME", oldHome);
    QVERIFY(finished);
    QCOMPARE(server.requests().size(), 1);

    const QByteArray body = server.requests().first().body;
    const int signAt = body.indexOf("&sign=");
    QVERIFY(signAt > 0);
    const QByteArray signedPart = body.left(signAt);
    const QMap<QByteArray, QByteArray> fields = formFields(body);
    QCOMPARE(fields.keys(), (QList<QByteArray>{"computerName", "content", "mac", "osVersion", "sign", "time",
                                               "type", "useState", "userName", "version"}));
    QCOMPARE(fields.value("userName"), QByteArray("Zo\xc3\xab \xe5\xbc\xa0\xe4\xb8\x89"));
    QCOMPARE(fields.value("computerName"), QHostInfo::localHostName().toUtf8());
    QCOMPARE(fields.value("osVersion"), (QSysInfo::productType() + QSysInfo::productVersion()).toUtf8());
    QCOMPARE(fields.value("version"), QByteArray("1.0.0"));
    QCOMPARE(fields.value("content"), QByteArray("zuScreenShare"));
    const qint32 time = fields.value("time").toInt();
    QVERIFY(time >= before && time <= after);

    QVERIFY(signedPart.startsWith("mac="));
    QVERIFY(signedPart.endsWith("&time=" + fields.value("time")));
    QCOMPARE(fields.value("sign"),
             QCryptographicHash::hash(signedPart + "lapto.rn$#@_()", QCryptographicHash::Md5).toHex());
    QCOMPARE(body.mid(signAt), "&sign=" + fields.value("sign") + "&osVersion=" + fields.value("osVersion"));

    // The address of a real interface of this namespace, never the loopback's zeros.
    const QByteArray mac = fields.value("mac");
    QVERIFY2(QRegularExpression(QStringLiteral("^([0-9A-F]{2}:){5}[0-9A-F]{2}$")).match(mac).hasMatch(),
             mac.constData());
    QVERIFY(mac != "00:00:00:00:00:00");
    bool found = false;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        found = found ||
                (!iface.flags().testFlag(QNetworkInterface::IsLoopBack) && iface.hardwareAddress() == mac);
    }
    QVERIFY(found);
}

void TestReport::unwritableStateStillSends() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    // A folder where the file should be: the report goes out, the day cannot be recorded.
    QVERIFY(QDir().mkpath(m_config));
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(QFileInfo(m_config).isDir());
}

// Another local user's link at the state file's name: no report, and nothing written through it.
void TestReport::linkedStateTurnsReportingOff() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere.json"));
    QVERIFY(QDir().mkpath(QFileInfo(m_config).absolutePath()));
    QVERIFY(QFile::link(elsewhere, m_config));
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 0);
    QVERIFY(!QFileInfo::exists(elsewhere));

    QVERIFY(QFile::remove(m_config));
    QVERIFY(runOnce(server.baseUrl()));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(QFileInfo(m_config).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

void TestReport::requestTimesOut() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    server.setMode(HttpStub::Mode::Hang);
    QVERIFY(runOnce(server.baseUrl(), 400));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(!QFileInfo::exists(m_config));
}

void TestReport::destroyWhileInFlight() {
    ZU_REQUIRE_TEST_NAMESPACE();
    HttpStub server;
    QVERIFY(server.listen());
    server.setMode(HttpStub::Mode::Hang);
    auto manager = std::make_unique<ReportManager>(m_config, server.baseUrl());
    manager->setRequestTimeout(120000);
    QFuture<void> first = manager->report();
    QFuture<void> second = manager->report();
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 2, 10000);
    QVERIFY(!first.isFinished());

    // Far below the request's own time-out: destruction cuts the request short instead of waiting it out.
    QElapsedTimer timer;
    timer.start();
    manager.reset();
    QVERIFY2(timer.elapsed() < 60000, QByteArray::number(timer.elapsed()).constData());
    QVERIFY(first.isFinished());
    QVERIFY(second.isFinished());
    QVERIFY(!QFileInfo::exists(m_config));
}

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
