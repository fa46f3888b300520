// A responder or a scanner without a desktop, for runs on the test LAN:
//   scanprobe serve     prints "listening", "listen failed" and "local ip <a.b.c.d>"
//   scanprobe scan [--expect A...] [--sweeps N]   prints "hosts: <list>" at each refresh, a sweep every
//                       1.5 s; exits 0 once one list holds every expected address, else 1
#include <cstdio>

#include <QCoreApplication>
#include <QSet>
#include <QTimer>

#include "scan/scanclient.h"
#include "scan/scanserver.h"

static void say(const QString &line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    const QString mode = app.arguments().value(1);
    if (mode == QLatin1String("serve")) {
        ScanServer server;
        QObject::connect(&server, &ScanServer::sigListeningSuccess, [] { say("listening"); });
        QObject::connect(&server, &ScanServer::sigListeningFail, &app, [&app] {
            say("listen failed");
            app.exit(1);
        });
        QObject::connect(&server, &ScanServer::siglocalIp, [](const QString &ip) { say("local ip " + ip); });
        server.postStartListening(ScanClient::kServerPort);
        return app.exec();
    }
    if (mode != QLatin1String("scan")) {
        std::fprintf(stderr, "usage: scanprobe serve | scan [--expect ADDRESS...] [--sweeps N]\n");
        return 2;
    }
    ScanClient client;
    QSet<QString> expected;
    int sweeps = 20, done = 1;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--sweeps"))
            sweeps = args.value(++i).toInt();
        else if (args[i] != QLatin1String("--expect"))
            expected.insert(args[i]);
    }
    QObject::connect(&client, &ScanClient::sigShareListRefreshed, &app, [&](QStringList hosts) {
        hosts.sort();
        say("hosts: " + hosts.join(' '));
        if (!expected.isEmpty() && QSet<QString>(hosts.begin(), hosts.end()).contains(expected))
            app.exit(0);
    });
    QTimer sweeper;
    QObject::connect(&sweeper, &QTimer::timeout, &app, [&] {
        if (done++ >= sweeps)
            app.exit(expected.isEmpty() ? 0 : 1);
        else
            client.postRefresh();
    });
    sweeper.start(1500);
    client.postStartScan();
    return app.exec();
}
