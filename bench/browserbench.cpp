// Browser attendee figures: headless Chromium joins `zushare-cli host --synthetic` through the page the
// host serves; printed are the time from the join button to the first shown picture, and the rate of a
// file sent to the page, with the time the page spends on a chunk and between chunks. Run it inside a
// private namespace: unshare --net --fork -- tests/support/in-netns.sh build/bench/zushare_bench_browser

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

#include "cdpbrowser.h"
#include "support/testsupport.h"

namespace {

// The page's receiver timed from inside: arrival gaps and the work done on each package.
const char kProbe[] = R"((() => {
    const R = window.ZuTransfer.FileReceiver.prototype;
    const on = R.onPackage;
    window.zuProbe = { work: [], gaps: [], last: 0 };
    R.onPackage = function (buffer) {
        const t0 = performance.now();
        if (window.zuProbe.last) window.zuProbe.gaps.push(t0 - window.zuProbe.last);
        on.call(this, buffer);
        const t1 = performance.now();
        window.zuProbe.work.push(t1 - t0);
        window.zuProbe.last = t1;
    };
    return true;
})())";

const char kProbeReport[] = R"((() => {
    const p50 = (a) => { const s = a.slice().sort((x, y) => x - y); return s.length ? s[s.length >> 1] : -1; };
    const c = new Uint8Array(16384).map((_, i) => i * 7);
    const t0 = performance.now();
    for (let k = 0; k < 50; k++) {
        let s = '';
        for (let i = 0; i < c.length; i += 8192) s += String.fromCharCode.apply(null, c.subarray(i, i + 8192));
        window.md5Bytes(s);
    }
    const digest = (performance.now() - t0) / 50;
    return [p50(window.zuProbe.work).toFixed(2), p50(window.zuProbe.gaps).toFixed(2), window.zuProbe.work.length,
            digest.toFixed(2)].join(' ');
})())";

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (!testsupport::benchInTestNamespace(argv[0])) {
        return 2;
    }
    if (CdpBrowser::chromiumPath().isEmpty()) {
        std::fprintf(stderr, "Debian's chromium package is not installed\n");
        return 2;
    }
    QTemporaryDir work;
    const int fileBytes = 3 * 1000 * 1000;
    const QString sent = work.filePath("bench.bin");
    {
        QFile f(sent);
        QByteArray block(fileBytes, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i) {
            block[i] = char((i * 131 + i / 977) & 0xff);
        }
        if (!f.open(QIODevice::WriteOnly) || f.write(block) != block.size()) {
            return 2;
        }
    }
    const QString downloads = work.filePath("browser");
    QDir().mkpath(downloads);

    QProcess host;
    QByteArray hostOutput;
    host.start(ZUSHARE_CLI, {"host", "--synthetic", "--size", "1280x720", "--fps", "30", "--port", "0",
                             "--web-port", "0", "--no-discovery", "--send", sent});
    auto hostLine = [&](const QString &pattern) {
        hostOutput += host.readAllStandardOutput();
        return QRegularExpression(pattern, QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(hostOutput));
    };
    if (!testsupport::waitUntil(
            [&] {
                return hostLine("^attendee page (http://\\S+/)$").hasMatch() &&
                       hostLine("^share started on port (\\d+)$").hasMatch();
            },
            20000)) {
        std::fprintf(stderr, "the host did not start:\n%s\n", hostOutput.constData());
        return 2;
    }
    const QString port = hostLine("^share started on port (\\d+)$").captured(1);
    const QString webPort = QRegularExpression(":(\\d+)/$")
                                .match(hostLine("^attendee page (http://\\S+/)$").captured(1))
                                .captured(1);

    CdpBrowser browser;
    QString error;
    if (!browser.launch(1280, 800, &error)) {
        std::fprintf(stderr, "no browser: %s\n", qPrintable(error));
        return 2;
    }
    browser.call("Browser.setDownloadBehavior", {{"behavior", "allow"}, {"downloadPath", downloads}}, false);
    if (!browser.navigate(QString("http://%1:%2/?port=%3").arg(testsupport::addressA(), webPort, port))) {
        std::fprintf(stderr, "the page did not load:\n%s\n", qPrintable(browser.output()));
        return 2;
    }
    browser.evaluate(kProbe);
    browser.evaluate("document.getElementById('nickname').focus()");
    browser.call("Input.insertText", {{"text", "bench"}});
    // The time is taken in the page: from the click to the first picture the video element shows.
    browser.evaluate(
        "window.zuClick = performance.now(); document.getElementById('screen')"
        ".requestVideoFrameCallback(() => { window.zuFirst = performance.now(); }); true");
    browser.evaluate("document.getElementById('join-button').click(), true");
    const bool shown = testsupport::waitUntil(
        [&] { return browser.evaluate("window.zuFirst !== undefined").toBool(); }, 30000);
    const double firstMs = browser.evaluate("window.zuFirst - window.zuClick").toDouble();

    QElapsedTimer transfer;
    const bool began = testsupport::waitUntil([&] { return hostLine("^transfer begin").hasMatch(); }, 30000);
    transfer.start();
    const QString saved = QDir(downloads).filePath("bench.bin");
    const bool done =
        began && testsupport::waitUntil([&] { return QFileInfo(saved).size() == fileBytes; }, 300000);
    const qint64 ms = transfer.elapsed();
    const bool intact = done && testsupport::readFile(saved) == testsupport::readFile(sent);
    const QStringList probe = browser.evaluate(kProbeReport).toString().split(' ');

    std::printf(
        "browser benchmark: headless Chromium, 1280x720 synthetic picture at 30 fps, namespace LAN\n");
    if (!shown) {
        std::fprintf(stderr, "page state %s\nhost: %s\n",
                     qPrintable(browser.evaluate("document.body.dataset.state").toString()),
                     hostOutput.constData());
    }
    if (shown) {
        std::printf("  join button to first shown picture: %.0f ms\n", firstMs);
    } else {
        std::printf("  no picture was shown within 30 s\n");
    }
    if (intact) {
        std::printf("  file of %d bytes to the page: %lld ms = %.1f MB/s, intact\n", fileBytes, ms,
                    fileBytes / 1000.0 / double(std::max<qint64>(1, ms)));
        if (probe.size() == 4) {
            std::printf(
                "  per package in the page: work p50 %s ms (a chunk's digest alone %s ms), gap between "
                "packages p50 %s ms (%s packages)\n",
                qPrintable(probe[0]), qPrintable(probe[3]), qPrintable(probe[1]), qPrintable(probe[2]));
        }
    } else {
        std::printf("  the file was not saved intact within %lld ms\n", ms);
    }
    browser.close();
    host.terminate();
    host.waitForFinished(10000);
    return 0;
}
