// The host page's way in for browser attendees: while a share runs on host 1 of the namespace LAN,
// the page shows the attendee page's address and its QR code, the page answers at that address,
// and both go when the share ends by the quit button or when the page itself goes.
#include <QtTest>

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTcpSocket>

#include <memory>

#include "pinlibraries.h"
#include "rtc/rtcmanager.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/quitsharedialog.h"
#include "ui/sharewidget.h"
#include "uiscript.h"
#include "web/attendeepageqr.h"
#include "web/attendeepageserver.h"

using testsupport::TestLan;
using uitest::child;
using uitest::modal;

namespace {

const QString kHostIp = QStringLiteral("10.77.1.1");
const QString kPageUrl = QStringLiteral("http://10.77.1.1:5677/");

// The status code of a GET, or 0 when nothing answered.
int httpStatus(const QString &url) {
    QNetworkAccessManager access;
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(10000);
    std::unique_ptr<QNetworkReply> reply(access.get(request));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!done.wait(15000))
        return 0;
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// True when a TCP connection to the address is refused: nobody listens there any more.
bool refused(const QString &ip, quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(ip, port);
    if (socket.waitForConnected(5000))
        return false;
    return socket.error() == QAbstractSocket::ConnectionRefusedError;
}

}  // namespace

class TestHostPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestLan> lan_;

    // Starts a share on the page and waits until it shows the host's LAN address.
    void startShare(ShareWidget *page) {
        QSignalSpy created(page, &ShareWidget::sigShareCreated);
        page->createShare();
        QVERIFY(created.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page, "label_ip")->text(), QStringLiteral("IP: ") + kHostIp,
                                  20000);
    }

    void save(ShareWidget *page) {
        QString dir = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(page->grab().save(QDir(dir).filePath("host-webpage.png")));
    }

private slots:
    void initTestCase() {
        if (!testsupport::inTestNamespace())
            return;
        lan_ = std::make_unique<TestLan>(1);
        QVERIFY2(lan_->isUp(), qPrintable(lan_->errorString()));
    }
    void cleanupTestCase() {
        lan_.reset();
        pinLoadedLibraries();
    }

    void addressAndCodeWhileSharing() {
        ZU_REQUIRE_TEST_NAMESPACE();
        TestLan::Enter in(*lan_, 1);
        QVERIFY(in.ok());
        ShareWidget page;
        page.resize(783, 468);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        auto *panel = child<QWidget>(&page, "widget_web");
        auto *url = child<QLabel>(&page, "label_web_url");
        auto *qr = child<QLabel>(&page, "label_web_qr");
        QVERIFY(panel && url && qr);
        QVERIFY(!panel->isVisible());
        QVERIFY(!page.pageServer());

        startShare(&page);
        QVERIFY(page.pageServer() && page.pageServer()->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(url->text(), kPageUrl, 10000);
        QVERIFY(panel->isVisible());
        const QPixmap code = qr->pixmap(Qt::ReturnByValue);
        QVERIFY(!code.isNull());
        QCOMPARE(code.width(), ShareWidget::kPageQrSize);
        QCOMPARE(code.height(), ShareWidget::kPageQrSize);
        // The code shown is the code of the address shown, not of some other text.
        const QImage expected = AttendeePageQr::render(kPageUrl, ShareWidget::kPageQrSize);
        QCOMPARE(code.toImage().convertToFormat(QImage::Format_RGB32),
                 expected.convertToFormat(QImage::Format_RGB32));
        QVERIFY(code.toImage() !=
                AttendeePageQr::render(QStringLiteral("http://10.77.1.2:5677/"), ShareWidget::kPageQrSize));
        // Nothing of the panel is cut off.
        QVERIFY(url->width() >= url->sizeHint().width());
        QVERIFY(panel->geometry().bottom() < page.mainArea()->height());
        QCOMPARE(httpStatus(kPageUrl), 200);
        save(&page);

        // The quit button, cancelled once, then confirmed.
        UiScript script(30000);
        uitest::addCancelThenConfirm<QuitShareDialog>(
            script, QStringLiteral("quit"), [&] { return child<QPushButton>(&page, "btn_quit"); },
            [&] {
                if (!page.pageServer() || url->text() != kPageUrl || !panel->isVisible())
                    script.fail("the page went with a cancelled quit");
            });
        script.start();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished(), 40000);
        QVERIFY2(script.succeeded(), qPrintable(script.failure()));

        QTRY_VERIFY_WITH_TIMEOUT(!page.sessionManager(), 20000);
        QVERIFY(!page.pageServer());
        QVERIFY(!panel->isVisible());
        QVERIFY(url->text().isEmpty());
        QVERIFY(qr->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(refused(kHostIp, AttendeePageServer::kPort));

        // A second share serves the page again.
        startShare(&page);
        QTRY_COMPARE_WITH_TIMEOUT(url->text(), kPageUrl, 10000);
        QCOMPARE(httpStatus(kPageUrl), 200);
        QSignalSpy quit(&page, &ShareWidget::sigQuitShare);
        page.sessionManager()->stop();
        QVERIFY(quit.wait(20000));
        QVERIFY(!page.pageServer());
        QVERIFY(refused(kHostIp, AttendeePageServer::kPort));
        QTRY_VERIFY_WITH_TIMEOUT(!page.sessionManager(), 20000);
    }

    void pageServerEndsWithThePage() {
        ZU_REQUIRE_TEST_NAMESPACE();
        TestLan::Enter in(*lan_, 1);
        QVERIFY(in.ok());
        auto page = std::make_unique<ShareWidget>();
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get(), 20000));
        startShare(page.get());
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page.get(), "label_web_url")->text(), kPageUrl, 10000);
        QCOMPARE(httpStatus(kPageUrl), 200);
        page.reset();
        QVERIFY(refused(kHostIp, AttendeePageServer::kPort));
    }
};

QTEST_MAIN(TestHostPage)
#include "tst_hostpage.moc"
