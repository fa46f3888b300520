// The host page on host 1 of the namespace LAN: while a share runs it shows the attendee page's
// address and its QR code and the page answers there; both go with the share or the page. With "ask
// before someone watches" on, it asks about each desktop attendee in turn while the attendee waits.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>

#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
#include "rtc/rtcmanager.h"
#include "support/pinlibraries.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/admitmemberdialog.h"
#include "ui/memberitemwidget.h"
#include "ui/memberlistwidget.h"
#include "ui/settingcheckbox.h"
#include "ui/sharewidget.h"
#include "ui/watchwidget.h"
#include "uiscript.h"
#include "web/attendeepageqr.h"
#include "web/attendeepageserver.h"

using testsupport::TestLan;
using uitest::child;

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
    return done.wait(15000) ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

// True when a TCP connection to the address is refused: nobody listens there any more.
bool refused(const QString &ip, quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(ip, port);
    return !socket.waitForConnected(5000) && socket.error() == QAbstractSocket::ConnectionRefusedError;
}

}  // namespace

class TestHostPage : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;  // the admission switch is kept in the settings
    std::unique_ptr<TestLan> lan_;
    std::unique_ptr<TestLan::Enter> in_;

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
        const QString dir = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QTest::qWait(300);  // the first paint of a dialog just shown
        const QRect r = page->frameGeometry();
        QVERIFY(QDir().mkpath(dir) && QGuiApplication::primaryScreen()
                                          ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                                          .save(QDir(dir).filePath(name + ".png")));
    }
    static int waitingRows(ShareWidget *page) {
        int n = 0;
        for (MemberItemWidget *row : page->memberList()->findChildren<MemberItemWidget *>())
            n += row->isWaiting() && child<QLabel>(row, "label_state")->isVisible();
        return n;
    }

private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
        ZU_REQUIRE_TEST_NAMESPACE();
        lan_ = std::make_unique<TestLan>(1);
        QVERIFY2(lan_->isUp(), qPrintable(lan_->errorString()));
        in_ = std::make_unique<TestLan::Enter>(*lan_, 1);
        QVERIFY(in_->ok());
    }
    void cleanupTestCase() {
        in_.reset();
        lan_.reset();
        pinLoadedLibraries();
    }

    void addressAndCodeWhileSharing() {
        auto page = std::make_unique<ShareWidget>();
        page->resize(783, 468);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get(), 20000));
        auto *panel = child<QWidget>(page.get(), "widget_web");
        auto *url = child<QLabel>(page.get(), "label_web_url");
        auto *qr = child<QLabel>(page.get(), "label_web_qr");
        QVERIFY(!panel->isVisible() && !page->pageServer());

        startShare(page.get());
        QTRY_COMPARE_WITH_TIMEOUT(url->text(), kPageUrl, 10000);
        QVERIFY(panel->isVisible());
        // The code shown is the code of the address shown, not of some other text.
        const QImage code = qr->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
        auto render = [](const QString &text) {
            return AttendeePageQr::render(text, ShareWidget::kPageQrSize)
                .convertToFormat(QImage::Format_RGB32);
        };
        QCOMPARE(code, render(kPageUrl));
        QVERIFY(code != render(QStringLiteral("http://10.77.1.2:5677/")));
        // Nothing of the panel is cut off.
        QVERIFY(url->width() >= url->sizeHint().width());
        QVERIFY(panel->geometry().bottom() < page->mainArea()->height());
        QCOMPARE(httpStatus(kPageUrl), 200);

        // The share ends (by its quit button in the page flow): the panel and the page go.
        QSignalSpy quit(page.get(), &ShareWidget::sigQuitShare);
        page->sessionManager()->stop();
        QVERIFY(quit.wait(20000));
        QVERIFY(!page->pageServer() && !panel->isVisible() && url->text().isEmpty());
        QVERIFY(qr->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(refused(kHostIp, AttendeePageServer::kPort));
        QTRY_VERIFY_WITH_TIMEOUT(!page->sessionManager(), 20000);
    }

    void pageServerEndsWithThePage() {
        auto page = std::make_unique<ShareWidget>();
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get(), 20000));
        startShare(page.get());
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page.get(), "label_web_url")->text(), kPageUrl, 10000);
        QCOMPARE(httpStatus(kPageUrl), 200);
        page.reset();
        QVERIFY(refused(kHostIp, AttendeePageServer::kPort));
    }

    void asksBeforeSomeoneWatches() {
        SettingCheckBox::store(SettingCheckBox::kAskBeforeWatching, true);
        SettingCheckBox::store(SettingCheckBox::kShareSound, true);
        ShareWidget page;
        page.setGeometry(5, 40, 900, 520);  // it grows to its minimum width, about 990
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
        first.setGeometry(1012, 40, 900, 520);
        second.setGeometry(1012, 600, 900, 420);
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
};

QTEST_MAIN(TestHostPage)
#include "tst_hostpage.moc"
