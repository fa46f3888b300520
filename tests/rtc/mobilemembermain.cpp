// A mobile member for the projection tests: mobilemember IP [--port P] [--nickname N].
// Reads "stop" (end the projection from this side) and "quit" from stdin.

#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <cstdio>

#include "mobilemember.h"
#include "rtc/gst/zuwebrtc_testing.h"

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: zushare_mobilemember IP [--port P] [--nickname N]\n");
        return 64;
    }
    QString port = "5678";
    QString nickname = QStringLiteral("手机");
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == "--port") {
            port = args[i + 1];
        } else if (args[i] == "--nickname") {
            nickname = args[i + 1];
        }
    }
    zuengine::testing::useSyntheticPicture(640, 480, 15);
    MobileMember member(QUrl(QStringLiteral("ws://%1:%2/zu_remote_ctrl").arg(args[1], port)), nickname);
    QObject::connect(&member, &MobileMember::sigFinished, &app, &QCoreApplication::exit);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        const QString text = QString::fromLatin1(line, int(n)).trimmed();
        if (text.contains("stop")) {
            member.stopShare();
        }
        if (text.contains("quit")) {
            app.exit(0);
        }
    });
    member.start();
    return app.exec();
}
