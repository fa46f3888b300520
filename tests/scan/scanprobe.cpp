// A host's responder or an attendee's scanner without a desktop, for runs on the test LAN:
//   scanprobe serve [--port P]          prints "listening", "listen failed" and "local ip <a.b.c.d>"
//   scanprobe scan [--expect A...] [--sweeps N]
//                                       prints "hosts: <list>" at each refresh, one sweep every 1.5 s;
//                                       exits 0 once one list holds every expected address, else 1
#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "scan/scanclient.h"
#include "scan/scanserver.h"

static volatile std::sig_atomic_t g_stop = 0;

static void onSignal(int) {
    g_stop = 1;
}

static void say(const QString &line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    qSetMessagePattern(QStringLiteral("%{if-debug}debug: %{endif}%{message}"));
    QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    args = args.mid(1);

    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, &app, [&app] {
        if (g_stop) {
            app.exit(0);
        }
    });
    stopper.start(50);

    if (mode == QLatin1String("serve")) {
        quint16 port = ScanClient::kServerPort;
        if (args.value(0) == QLatin1String("--port")) {
            port = static_cast<quint16>(args.value(1).toUInt());
        }
        auto server = std::make_shared<ScanServer>();
        QObject::connect(server.get(), &ScanServer::sigListeningSuccess,
                         [] { say(QStringLiteral("listening")); });
        QObject::connect(server.get(), &ScanServer::sigListeningFail, &app, [&app] {
            say(QStringLiteral("listen failed"));
            app.exit(1);
        });
        QObject::connect(server.get(), &ScanServer::siglocalIp,
                         [](const QString &ip) { say(QStringLiteral("local ip ") + ip); });
        server->postStartListening(port);
        return app.exec();
    }
    if (mode == QLatin1String("scan")) {
        QSet<QString> expected;
        int sweeps = 20;
        for (int i = 0; i < args.size(); ++i) {
            if (args[i] == QLatin1String("--sweeps")) {
                sweeps = args.value(++i).toInt();
            } else if (args[i] != QLatin1String("--expect")) {
                expected.insert(args[i]);
            }
        }
        auto client = std::make_shared<ScanClient>();
        QObject::connect(
            client.get(), &ScanClient::sigShareListRefreshed, &app, [&](const QStringList &hosts) {
                QStringList sorted = hosts;
                sorted.sort();
                say(QStringLiteral("hosts: ") + sorted.join(QLatin1Char(' ')));
                if (!expected.isEmpty() && QSet<QString>(hosts.begin(), hosts.end()).contains(expected)) {
                    app.exit(0);
                }
            });
        int done = 1;
        QTimer sweeper;
        QObject::connect(&sweeper, &QTimer::timeout, &app, [&] {
            if (done++ >= sweeps) {
                app.exit(expected.isEmpty() ? 0 : 1);
                return;
            }
            client->postRefresh();
        });
        sweeper.start(1500);
        client->postStartScan();
        return app.exec();
    }
    std::fprintf(stderr, "usage: scanprobe serve [--port P] | scan [--expect ADDRESS...] [--sweeps N]\n");
    return 2;
}
