// The host page's way in for browser attendees: while a share runs on host 1 of the namespace LAN,
// the page shows the attendee page's address and its QR code, the page answers at that address,
// and both go when the share ends by the quit button or when the page itself goes. With "ask
// before someone watches" on, the page asks about each desktop attendee in turn while the
// attendee's page says that it waits.
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QScreen>
#include <QTcpSocket>

#include <memory>

#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/rtcmanager.h"
#include "support/pinlibraries.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/admitmemberdialog.h"
#include "ui/memberitemwidget.h"
#include "ui/memberlistwidget.h"
#include "ui/quitsharedialog.h"
#include "ui/settingcheckbox.h"
#include "ui/sharewidget.h"
#include "ui/watchwidget.h"
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
    QTemporaryDir config_;

    // Starts a share on the page and waits until it shows the host's LAN address.
    void startShare(ShareWidget *page) {
        QSignalSpy created(page, &ShareWidget::sigShareCreated);
        page->createShare();
        QVERIFY(created.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page, "label_ip")->text(), QStringLiteral("IP: ") + kHostIp,
                                  20000);
    }

    // What the user sees where the widget is, dialogs over it included.
    void save(QWidget *page, const QString &name) {
        QString dir = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QVERIFY(QDir().mkpath(dir));
        const QRect r = page->frameGeometry();
        const QPixmap shot =
            QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
        QVERIFY(shot.save(QDir(dir).filePath(name + ".png")));
    }
    static int waitingRows(ShareWidget *page) {
        int n = 0;
        for (MemberItemWidget *row : page->memberList()->findChildren<MemberItemWidget *>())
            n += row->isWaiting() && child<QLabel>(row, "label_state")->isVisible();
        return n;
    }

private slots:
    void initTestCase() {
        // The switch is kept in the settings: the test's own.
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
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
        save(&page, "host-webpage");

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

    void asksBeforeSomeoneWatches() {
        ZU_REQUIRE_TEST_NAMESPACE();
        TestLan::Enter in(*lan_, 1);
        QVERIFY(in.ok());
        SettingCheckBox::store(SettingCheckBox::kAskBeforeWatching, true);
        SettingCheckBox::store(SettingCheckBox::kShareSound, true);
        ShareWidget page;
        page.setGeometry(40, 40, 900, 520);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        QVERIFY(child<QCheckBox>(&page, "check_admit")->isChecked());
        startShare(&page);
        auto *host = qobject_cast<OriginatorRtcManager *>(page.sessionManager());
        QVERIFY(host && host->asksBeforeWatching());
        // No sound server in here: the switch is on, and the bar says that there is no sound.
        QVERIFY(child<QLabel>(&page, "label_sound")->isVisible());
        SettingCheckBox::store(SettingCheckBox::kShareSound, false);

        WatchWidget first, second;
        first.setGeometry(980, 40, 900, 520);
        second.setGeometry(980, 600, 900, 420);
        first.show();
        second.show();
        first.joinShare(kHostIp, QStringLiteral("观众甲"));
        QTRY_VERIFY_WITH_TIMEOUT(page.admitDialog() && page.admitDialog()->isVisible(), 20000);
        AdmitMemberDialog *asking = page.admitDialog();
        const QString question = child<QLabel>(asking, "label_msg")->text();
        QVERIFY2(question.contains(QStringLiteral("观众甲")) && question.contains(kHostIp) &&
                     question.contains(QStringLiteral("电脑")),
                 qPrintable(question));
        QTRY_VERIFY_WITH_TIMEOUT(first.waitsForAdmission(), 10000);
        QVERIFY(child<QLabel>(&first, "label_admission")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(&page), 1, 10000);

        // A second one waits behind the first: still one question, now offering to admit both.
        second.joinShare(kHostIp, QStringLiteral("观众乙"));
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(asking, "btn_admit_all")->isVisible(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(&page), 2, 10000);
        QCOMPARE(page.admitDialog(), asking);
        QVERIFY(host->attendeeIds().isEmpty());
        QVERIFY(static_cast<AttendeeRtcManager *>(first.sessionManager())->fileTransferor() == nullptr);
        QTest::qWait(300);  // the dialog's first paint
        save(&page, "host-admission");
        save(&first, "watch-admission");

        QTest::mouseClick(child<QPushButton>(asking, "btn_admit"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!first.waitsForAdmission(), 10000);
        QVERIFY(!child<QLabel>(&first, "label_admission")->isVisible());
        auto *firstManager = static_cast<AttendeeRtcManager *>(first.sessionManager());
        QTRY_VERIFY_WITH_TIMEOUT(firstManager->fileTransferor() != nullptr, 20000);
        QCOMPARE(host->attendeeIds().size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(page.admitDialog() && page.admitDialog()->isVisible(), 10000);
        QVERIFY(!child<QPushButton>(page.admitDialog(), "btn_admit_all")->isVisible());
        QSignalSpy refused(&second, &WatchWidget::sigQuitShare);
        QTest::mouseClick(child<QPushButton>(page.admitDialog(), "btn_refuse"), Qt::LeftButton);
        QVERIFY(refused.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(&page), 0, 10000);
        QVERIFY(!page.admitDialog());
        QCOMPARE(host->attendeeIds().size(), 1);
        QVERIFY(first.sessionManager() && firstManager->peerConnection() > 0);

        // Switched off on the page during the share: the next one watches unasked.
        QTRY_VERIFY_WITH_TIMEOUT(!second.sessionManager(), 10000);
        QTest::mouseClick(child<QCheckBox>(&page, "check_admit"), Qt::LeftButton);
        QVERIFY(!host->asksBeforeWatching() && !SettingCheckBox::stored(SettingCheckBox::kAskBeforeWatching));
        second.joinShare(kHostIp, QStringLiteral("观众乙"));
        QTRY_COMPARE_WITH_TIMEOUT(host->attendeeIds().size(), 2, 20000);
        QVERIFY(!page.admitDialog() && !second.waitsForAdmission());
        QSignalSpy quit(&page, &ShareWidget::sigQuitShare);
        page.sessionManager()->stop();
        QVERIFY(quit.wait(20000));
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
