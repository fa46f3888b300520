// zushare-cli: a share's host, an attendee or a scan for hosts, without a desktop session.

#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

#include "clihost.h"
#include "cliwatcher.h"
#include "rtc/zuwebrtc.h"
#include "scan/scanclient.h"
#include "web/attendeepageserver.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    (void)written;
}

void printUsage(std::FILE *out) {
    std::fprintf(
        out,
        "usage: zushare-cli host [--synthetic [--size WxH] [--fps N]] [--send PATH] [--port P] "
        "[--no-discovery]\n"
        "                        [--admit ask|all] [--sound | --synthetic-sound | --beeping-sound]\n"
        "                        [--web-port P | --no-web]\n"
        "       zushare-cli watch IP --nickname N [--save-frames DIR [--every N]] [--downloads DIR]\n"
        "                         [--port P] [--stamps] [--sound FILE.wav] [--play]\n"
        "       zushare-cli scan [--seconds S]\n"
        "\n"
        "host prints \"share started\", \"member joined|left ID NICKNAME\", \"peer open|closed ID\" and\n"
        "\"transfer begin|done|failed ID\"; with --admit ask it asks \"waiting ID NICKNAME ADDRESS KIND\n"
        "(N waiting): admit? y/n/a\" for each member in turn and reads y (admit), n (refuse) or a (admit\n"
        "all waiting) lines on standard input; watch prints \"joined\", \"first frame after N ms\", a "
        "\"frames\"\n"
        "line once a second, \"saved frame PATH\", \"receive begin\", \"file saved PATH\" or\n"
        "\"receive failed\", and \"stopped\" when the share ends; scan prints \"host IP\" per host found.\n"
        "host --sound shares what the speakers play (--synthetic-sound: a 440 Hz tone; --beeping-sound:\n"
        "the tone in the first 100 ms of every second) with members that ask for sound, and reads\n"
        "\"mute\" and \"unmute\" lines on standard input; watch --sound asks for it, writes it to\n"
        "FILE.wav and prints \"sound frames=N\" once a second while it comes; with --stamps and a\n"
        "beeping host, the \"frames\" line adds how far the sound is behind the picture (av_offset_*,\n"
        "ms); watch --play plays it on the default output and reads \"mute\", \"unmute\" and\n"
        "\"volume N\" (0 to 100) lines on standard input.\n");
}

int usage() {
    printUsage(stderr);
    return 64;
}

// The transferor saves into the user's download folder; a folder given on the command line is
// made that folder for this process only.
bool useDownloadFolder(const QString &folder, QTemporaryDir &config) {
    if (!QDir().mkpath(folder) || !config.isValid()) {
        return false;
    }
    QFile dirs(QDir(config.path()).filePath(QStringLiteral("user-dirs.dirs")));
    if (!dirs.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString absolute = QDir(folder).absolutePath();
    dirs.write(QStringLiteral("XDG_DOWNLOAD_DIR=\"%1\"\n").arg(absolute).toUtf8());
    dirs.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    return true;
}

bool takeValue(const QStringList &args, int &i, QString &out) {
    if (i + 1 >= args.size()) {
        return false;
    }
    out = args[++i];
    return true;
}

bool parsePort(const QString &text, quint16 &port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535) {
        return false;
    }
    port = quint16(value);
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        return usage();
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        printUsage(stdout);
        return 0;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::perror("zushare-cli: socketpair");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);

    int exitCode = 0;
    auto finish = [&](int code) {
        exitCode = code;
        app.exit(code);
    };

    if (command == QLatin1String("host")) {
        CliHost::Options options;
        // The browser attendees' page, on its own fixed port unless told otherwise.
        int webPort = AttendeePageServer::kPort;
        for (int i = 0; i < args.size(); ++i) {
            QString value;
            if (args[i] == "--synthetic") {
                options.synthetic = true;
            } else if (args[i] == "--send" && takeValue(args, i, value)) {
                options.sendPath = value;
            } else if (args[i] == "--port" && takeValue(args, i, value) && parsePort(value, options.port)) {
            } else if (args[i] == "--fps" && takeValue(args, i, value) && value.toInt() > 0) {
                options.fps = value.toInt();
            } else if (args[i] == "--size" && takeValue(args, i, value) && value.split('x').size() == 2 &&
                       value.split('x')[0].toInt() >= 16 && value.split('x')[1].toInt() >= 16) {
                options.width = value.split('x')[0].toInt() & ~1;
                options.height = value.split('x')[1].toInt() & ~1;
            } else if (args[i] == "--no-discovery") {
                options.discovery = false;
            } else if (args[i] == "--web-port" && takeValue(args, i, value) && value.toUInt() <= 65535) {
                webPort = int(value.toUInt());
            } else if (args[i] == "--no-web") {
                webPort = -1;
            } else if (args[i] == "--sound") {
                options.sound = ZUWEBRTC_SOUND_SPEAKERS;
            } else if (args[i] == "--synthetic-sound") {
                options.sound = ZUWEBRTC_SOUND_TONE;
            } else if (args[i] == "--beeping-sound") {
                options.sound = ZUWEBRTC_SOUND_BEEPS;
            } else if (args[i] == "--admit" && takeValue(args, i, value) &&
                       (value == "ask" || value == "all")) {
                options.askAdmission = value == "ask";
            } else {
                return usage();
            }
        }
        CliHost host(options);
        QObject::connect(&host, &CliHost::sigFinished, &app, finish);
        QObject::connect(&notifier, &QSocketNotifier::activated, &host, [&] {
            char byte;
            ssize_t got = ::read(g_signalPipe[0], &byte, 1);
            (void)got;
            host.stop();
        });
        if (!host.start()) {
            return 2;
        }
        std::unique_ptr<AttendeePageServer> page;
        if (webPort >= 0) {
            page = std::make_unique<AttendeePageServer>(quint16(webPort));
            if (page->start()) {
                std::fprintf(stdout, "attendee page %s\n", page->url().toUtf8().constData());
            } else {
                std::fprintf(stdout, "attendee page unavailable: TCP port %d is taken\n", webPort);
            }
            std::fflush(stdout);
        }
        app.exec();
        return exitCode;
    }

    if (command == QLatin1String("watch")) {
        CliWatcher::Options options;
        QString downloads;
        if (args.isEmpty() || args[0].startsWith("--")) {
            return usage();
        }
        options.host = args.takeFirst();
        QHostAddress address;
        if (!address.setAddress(options.host) || address.protocol() != QAbstractSocket::IPv4Protocol) {
            std::fprintf(stderr, "zushare-cli: not an IPv4 address: %s\n", options.host.toUtf8().constData());
            return 2;
        }
        for (int i = 0; i < args.size(); ++i) {
            QString value;
            if (args[i] == "--nickname" && takeValue(args, i, value)) {
                options.nickname = value;
            } else if (args[i] == "--save-frames" && takeValue(args, i, value)) {
                options.framesDir = value;
            } else if (args[i] == "--every" && takeValue(args, i, value) && value.toInt() > 0) {
                options.saveEvery = value.toInt();
            } else if (args[i] == "--downloads" && takeValue(args, i, value)) {
                downloads = value;
            } else if (args[i] == "--port" && takeValue(args, i, value) && parsePort(value, options.port)) {
            } else if (args[i] == "--stamps") {
                options.stamps = true;
            } else if (args[i] == "--play") {
                options.play = true;
            } else if (args[i] == "--sound" && takeValue(args, i, value)) {
                options.soundPath = value;
            } else {
                return usage();
            }
        }
        if (options.nickname.isEmpty()) {
            std::fprintf(stderr, "zushare-cli: watch needs --nickname\n");
            return usage();
        }
        QTemporaryDir config;
        if (!downloads.isEmpty() && !useDownloadFolder(downloads, config)) {
            std::fprintf(stderr, "zushare-cli: cannot use the download folder %s\n",
                         downloads.toUtf8().constData());
            return 2;
        }
        CliWatcher watcher(options);
        QObject::connect(&watcher, &CliWatcher::sigFinished, &app, finish);
        QObject::connect(&notifier, &QSocketNotifier::activated, &watcher, [&] {
            char byte;
            ssize_t got = ::read(g_signalPipe[0], &byte, 1);
            (void)got;
            watcher.stop();
        });
        watcher.start();
        app.exec();
        return exitCode;
    }

    if (command == QLatin1String("scan")) {
        int seconds = 3;
        for (int i = 0; i < args.size(); ++i) {
            QString value;
            if (args[i] == "--seconds" && takeValue(args, i, value) && value.toInt() > 0) {
                seconds = value.toInt();
            } else {
                return usage();
            }
        }
        QStringList found;
        auto scanner = std::make_shared<ScanClient>();
        QObject::connect(scanner.get(), &ScanClient::sigShareListRefreshed, &app, [&](QStringList hosts) {
            for (const QString &host : hosts) {
                if (!found.contains(host)) {
                    found.append(host);
                    std::fprintf(stdout, "host %s\n", host.toUtf8().constData());
                    std::fflush(stdout);
                }
            }
        });
        QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] { app.exit(0); });
        QTimer::singleShot(seconds * 1000, &app, [&] { app.exit(0); });
        if (!scanner->postStartScan()) {
            std::fprintf(stderr, "zushare-cli: cannot start the scan\n");
            return 2;
        }
        app.exec();
        scanner->postStopScan();
        scanner.reset();
        if (found.isEmpty()) {
            std::fprintf(stdout, "no hosts found\n");
        }
        return 0;
    }

    return usage();
}
