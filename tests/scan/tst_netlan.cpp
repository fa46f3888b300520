#include <QtTest>

#include <QFileInfo>
#include <QNetworkInterface>
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
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            result << a.toString();
    result.sort();
    return result;
}

// Starts `netlan.sh hold` for two hosts and reads their namespaces' names up to "ready".
QStringList holdLan(QProcess &holder) {
    holder.start(TestLan::scriptPath(), {"hold", "--hosts", "2"});
    QStringList names;
    while (holder.canReadLine() || holder.waitForReadyRead(20000)) {
        if (!holder.canReadLine())
            continue;  // half a line so far
        const QString line = QString::fromUtf8(holder.readLine()).trimmed();
        if (line == QLatin1String("ready"))
            return names;
        if (line.startsWith(QLatin1String("host ")))
            names << line.section(QLatin1Char(' '), 2, 2);
    }
    return {};
}

}  // namespace

class TestNetLan : public QObject {
    Q_OBJECT
private slots:
    void init() { ZU_REQUIRE_TEST_NAMESPACE(); }

    // Entering a host moves only the calling thread and the threads it starts.
    void hostsHaveTheirAddressesUntilDestroyed() {
        QStringList names;
        const QStringList outside = ipv4Here();
        {
            TestLan lan(4, {{3, {1, 2}}, {4, {2}}});
            QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
            QCOMPARE((QStringList{lan.address(4), lan.address(3, 2), lan.address(1, 2), lan.netns(5)}),
                     (QStringList{"10.77.2.4", "10.77.2.3", "", ""}));
            for (int h = 1; h <= 4; ++h) {
                QVERIFY(netnsExists(lan.netns(h)));
                names << lan.netns(h);
            }
            {
                TestLan::Enter in(lan, 3);
                QStringList inThread;
                std::unique_ptr<QThread> thread(QThread::create([&inThread] { inThread = ipv4Here(); }));
                thread->start();
                thread->wait();
                QVERIFY(in.ok());
                QCOMPARE(ipv4Here(), (QStringList{"10.77.1.3", "10.77.2.3"}));
                QCOMPARE(inThread, ipv4Here());
            }
            QCOMPARE(ipv4Here(), outside);
            TestLan::Enter nowhere(lan, 9);
            QVERIFY(!nowhere.ok());
            QCOMPARE(ipv4Here(), outside);
        }
        for (const QString &name : names)
            QVERIFY2(!netnsExists(name), qPrintable(name));
    }

    void processesRunInTheirHosts() {
        TestLan lan(3);
        QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
        QByteArray out;
        QCOMPARE(lan.run(3, "sh", {"-c", "ip -4 -o addr show dev eth0; echo \"$ZU_LAN_HOST $ZU_LAN_ADDR_1\""},
                         &out),
                 0);
        QVERIFY2(out.contains("10.77.1.3/24") && out.contains("3 10.77.1.1"), out.constData());
        QCOMPARE(lan.run(1, "sh", {"-c", "exit 7"}), 7);
        // A program still running when the LAN goes is ended with it.
        QVERIFY(lan.start(2, "sleep", {"600"})->waitForStarted());
        QVERIFY(lan.start(4, "true", {}) == nullptr);
    }

    // A SIGTERM (Ctrl-C by hand) removes the LAN too; the end of stdin is what the destructor above uses.
    void removedWhenHolderIsTerminated() {
        QProcess holder;
        const QStringList names = holdLan(holder);
        QCOMPARE(names.size(), 2);
        QVERIFY(netnsExists(names[0]));
        holder.terminate();
        QVERIFY(holder.waitForFinished(20000));
        QVERIFY(!netnsExists(names[0]) && !netnsExists(names[1]));
    }

    void sweepRemovesDeadOwnersNamespacesUnlessBusy() {
        QProcess holder;
        const QStringList names = holdLan(holder);
        QCOMPARE(names.size(), 2);
        QProcess inside;
        inside.start("ip", {"netns", "exec", names[0], "sh", "-c", "echo in; exec sleep 600"});
        QVERIFY(inside.waitForReadyRead(10000));
        // SIGKILL leaves no chance to clean up: the namespaces stay until a sweep, a busy one after it.
        ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished());
        QVERIFY(netnsExists(names[1]));
        QCOMPARE(QProcess::execute(TestLan::scriptPath(), {"sweep"}), 0);
        QVERIFY(netnsExists(names[0]) && !netnsExists(names[1]));
        QVERIFY(!netnsExists(names[0].section(QLatin1Char('-'), 0, 2) + QStringLiteral("-sw")));
        inside.kill();
        QVERIFY(inside.waitForFinished());
        QCOMPARE(QProcess::execute(TestLan::scriptPath(), {"sweep"}), 0);
        QVERIFY(!netnsExists(names[0]));
    }

    void runGivesExitStatusAndOutput() {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(TestLan::scriptPath(),
                  {"run", "--hosts", "3", "--background", "3", "--", "sh", "-c", "echo one $ZU_LAN_ADDR_2",
                   ":::", "sh", "-c", "exit 5", ":::", "sleep", "600"});
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 5);
        QVERIFY(run.readAll().contains("[h1] one 10.77.1.2"));
        QProcess late;
        late.start(TestLan::scriptPath(), {"run", "--hosts", "1", "--timeout", "1", "--", "sleep", "600"});
        QVERIFY(late.waitForFinished(30000));
        QCOMPARE(late.exitCode(), 124);
    }
};

QTEST_GUILESS_MAIN(TestNetLan)
#include "tst_netlan.moc"
