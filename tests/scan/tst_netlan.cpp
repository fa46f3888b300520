#include <QtTest>

#include <QDir>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <csignal>

#include "support/testlan.h"
#include "support/testsupport.h"

using testsupport::TestLan;

namespace {

bool netnsExists(const QString &name) {
    return QFileInfo::exists(QStringLiteral("/run/netns/") + name);
}

QStringList ipv4Here() {
    QStringList result;
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            result << a.toString();
        }
    }
    result.sort();
    return result;
}

// Starts `netlan.sh hold` and reads its description up to "ready".
QStringList holdLan(QProcess &holder, const QStringList &args) {
    holder.start(TestLan::scriptPath(), QStringList{QStringLiteral("hold")} + args);
    QStringList names;
    if (!holder.waitForStarted()) {
        return names;
    }
    while (true) {
        if (!holder.canReadLine() && !holder.waitForReadyRead(20000)) {
            return {};
        }
        while (holder.canReadLine()) {
            const QString line = QString::fromUtf8(holder.readLine()).trimmed();
            if (line == QLatin1String("ready")) {
                return names;
            }
            if (line.startsWith(QLatin1String("host "))) {
                names << line.section(QLatin1Char(' '), 2, 2);
            }
        }
    }
}

}  // namespace

class TestNetLan : public QObject {
    Q_OBJECT
private slots:
    void init() { ZU_REQUIRE_TEST_NAMESPACE(); }
    void hostsHaveTheirAddresses();
    void enterMovesOnlyTheCallingThread();
    void processesRunInTheirHosts();
    void limitedBroadcastReachesOtherHosts();
    void removedWhenDestroyed();
    void removedWhenHolderIsTerminated();
    void removedWhenOwnerDies();
    void deadOwnersSweptAway();
    void busyNamespaceSurvivesSweep();
    void runGivesExitStatusAndOutput();
};

void TestNetLan::hostsHaveTheirAddresses() {
    TestLan lan(4, {{3, {1, 2}}, {4, {2}}});
    QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
    QCOMPARE(lan.hostCount(), 4);
    QCOMPARE(lan.addresses(1), QStringList{"10.77.1.1"});
    QCOMPARE(lan.addresses(3), (QStringList{"10.77.1.3", "10.77.2.3"}));
    QCOMPARE(lan.address(4), QStringLiteral("10.77.2.4"));
    QCOMPARE(lan.address(3, 2), QStringLiteral("10.77.2.3"));
    QVERIFY(lan.address(1, 2).isEmpty());
    QVERIFY(lan.netns(5).isEmpty());
    for (int h = 1; h <= 4; ++h) {
        QVERIFY(lan.netns(h).contains(QString::number(QCoreApplication::applicationPid())) == false);
        QVERIFY(netnsExists(lan.netns(h)));
    }
}

void TestNetLan::enterMovesOnlyTheCallingThread() {
    TestLan lan(2, {{2, {1, 3}}});
    QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
    const QStringList outside = ipv4Here();
    {
        TestLan::Enter in(lan, 2);
        QVERIFY(in.ok());
        QCOMPARE(ipv4Here(), (QStringList{"10.77.1.2", "10.77.3.2"}));
        QStringList inThread;
        std::unique_ptr<QThread> thread(QThread::create([&inThread] { inThread = ipv4Here(); }));
        thread->start();
        thread->wait();
        QCOMPARE(inThread, (QStringList{"10.77.1.2", "10.77.3.2"}));
    }
    QCOMPARE(ipv4Here(), outside);
    TestLan::Enter nowhere(lan, 9);
    QVERIFY(!nowhere.ok());
    QCOMPARE(ipv4Here(), outside);
}

void TestNetLan::processesRunInTheirHosts() {
    TestLan lan(3);
    QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
    QByteArray out;
    QCOMPARE(
        lan.run(3, "sh", {"-c", "ip -4 -o addr show dev eth0; echo \"$ZU_LAN_HOST $ZU_LAN_ADDR_1\""}, &out),
        0);
    QVERIFY2(out.contains("10.77.1.3/24"), out.constData());
    QVERIFY2(out.contains("3 10.77.1.1"), out.constData());
    QCOMPARE(lan.run(1, "sh", {"-c", "exit 7"}), 7);
    // A program still running when the LAN goes is ended with it.
    QProcess *sleeper = lan.start(2, "sleep", {"600"});
    QVERIFY(sleeper->waitForStarted());
    QVERIFY(lan.start(4, "true", {}) == nullptr);
}

void TestNetLan::limitedBroadcastReachesOtherHosts() {
    TestLan lan(3);
    QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
    QUdpSocket receiver;
    {
        TestLan::Enter in(lan, 3);
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 47000));
    }
    QUdpSocket sender;
    {
        TestLan::Enter in(lan, 1);
        QVERIFY(sender.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    }
    sender.writeDatagram("hello", QHostAddress::Broadcast, 47000);
    QTRY_VERIFY(receiver.hasPendingDatagrams());
    const QNetworkDatagram got = receiver.receiveDatagram();
    QCOMPARE(got.data(), QByteArray("hello"));
    QCOMPARE(QHostAddress(got.senderAddress().toIPv4Address()).toString(), QStringLiteral("10.77.1.1"));
}

void TestNetLan::removedWhenDestroyed() {
    QStringList names;
    {
        TestLan lan(2);
        QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
        names << lan.netns(1) << lan.netns(2);
    }
    for (const QString &name : names) {
        QVERIFY2(!netnsExists(name), qPrintable(name));
    }
}

void TestNetLan::removedWhenHolderIsTerminated() {
    QProcess holder;
    const QStringList names = holdLan(holder, {"--hosts", "2"});
    QCOMPARE(names.size(), 2);
    QVERIFY(netnsExists(names[0]));
    holder.terminate();
    QVERIFY(holder.waitForFinished(20000));
    for (const QString &name : names) {
        QVERIFY2(!netnsExists(name), qPrintable(name));
    }
}

void TestNetLan::removedWhenOwnerDies() {
    // The script's stdin comes from a process that tells its pid and is then killed hard, as a test
    // process killed by a time-out would be: the pipe closes and the LAN goes.
    QProcess owner;
    owner.setProcessChannelMode(QProcess::MergedChannels);
    owner.start("sh", {"-c", QStringLiteral("sh -c 'echo pid $$ >&2; exec sleep 600' | %1 hold --hosts 2")
                                 .arg(TestLan::scriptPath())});
    QVERIFY(owner.waitForStarted());
    QStringList names;
    qint64 feeder = 0;
    while ((names.size() < 2 || feeder == 0) && owner.waitForReadyRead(20000)) {
        while (owner.canReadLine()) {
            const QString line = QString::fromUtf8(owner.readLine()).trimmed();
            if (line.startsWith(QLatin1String("host "))) {
                names << line.section(QLatin1Char(' '), 2, 2);
            } else if (line.startsWith(QLatin1String("pid "))) {
                feeder = line.mid(4).toLongLong();
            }
        }
    }
    QCOMPARE(names.size(), 2);
    QVERIFY(feeder > 0);
    QVERIFY(netnsExists(names[0]));
    QCOMPARE(::kill(static_cast<pid_t>(feeder), SIGKILL), 0);
    QVERIFY(owner.waitForFinished(20000));
    QVERIFY(!netnsExists(names[0]));
    QVERIFY(!netnsExists(names[1]));
}

void TestNetLan::deadOwnersSweptAway() {
    QProcess holder;
    const QStringList names = holdLan(holder, {"--hosts", "1"});
    QCOMPARE(names.size(), 1);
    // SIGKILL leaves no chance to clean up: the namespaces stay until a sweep.
    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished());
    QVERIFY(netnsExists(names[0]));
    QCOMPARE(QProcess::execute(TestLan::scriptPath(), {"sweep"}), 0);
    QVERIFY(!netnsExists(names[0]));
    QVERIFY(!netnsExists(names[0].section(QLatin1Char('-'), 0, 2) + QStringLiteral("-sw")));
}

void TestNetLan::busyNamespaceSurvivesSweep() {
    QProcess holder;
    const QStringList names = holdLan(holder, {"--hosts", "1"});
    QCOMPARE(names.size(), 1);
    QProcess inside;
    inside.start("ip", {"netns", "exec", names[0], "sh", "-c", "echo in; exec sleep 600"});
    QVERIFY(inside.waitForReadyRead(10000));
    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished());
    QCOMPARE(QProcess::execute(TestLan::scriptPath(), {"sweep"}), 0);
    QVERIFY(netnsExists(names[0]));
    inside.kill();
    QVERIFY(inside.waitForFinished());
    QCOMPARE(QProcess::execute(TestLan::scriptPath(), {"sweep"}), 0);
    QVERIFY(!netnsExists(names[0]));
}

void TestNetLan::runGivesExitStatusAndOutput() {
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(TestLan::scriptPath(),
              {"run", "--hosts", "3", "--background", "3", "--", "sh", "-c", "echo one $ZU_LAN_ADDR_2",
               ":::", "sh", "-c", "exit 5", ":::", "sleep", "600"});
    QVERIFY(run.waitForFinished(30000));
    const QByteArray out = run.readAll();
    QCOMPARE(run.exitCode(), 5);
    QVERIFY2(out.contains("[h1] one 10.77.1.2"), out.constData());

    QProcess late;
    late.start(TestLan::scriptPath(), {"run", "--hosts", "1", "--timeout", "1", "--", "sleep", "600"});
    QVERIFY(late.waitForFinished(30000));
    QCOMPARE(late.exitCode(), 124);
}

QTEST_GUILESS_MAIN(TestNetLan)
#include "tst_netlan.moc"
