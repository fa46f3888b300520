// The host page on the namespace LAN: the attendee page's address, code and server live as long as the
// share; asking before someone watches, it asks about each attendee in turn.
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
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

using testsupport::TestLan;
using uitest::child;

namespace {

const QString kHostIp = QStringLiteral("10.77.1.1"), kPageUrl = QStringLiteral("http://10.77.1.1:5677/");

// The status code of a GET, or 0 when nothing answered (nobody listens there any more).
int httpStatus(const QString &url) {
    QNetworkAccessManager access;
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(10000);
    std::unique_ptr<QNetworkReply> reply(access.get(request));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    return done.wait(15000) ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

}  // namespace

class TestHostPage : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;  // the admission switch is kept in the settings
    std::unique_ptr<TestLan> lan_;
    std::unique_ptr<TestLan::Enter> in_;

    // Shows the page, starts a share on it and waits until it shows the host's address and the page's.
    void startShare(ShareWidget *page) {
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page, 20000));
        page->createShare();
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page, "label_ip")->text(), "IP: " + kHostIp, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(page, "label_web_url")->text(), kPageUrl, 10000);
    }
    void stopShare(ShareWidget *page) {
        QSignalSpy quit(page, &ShareWidget::sigQuitShare);
        page->sessionManager()->stop();
        QVERIFY(quit.wait(20000));
    }

    // What the user sees where the widget is, dialogs over it included.
    static void save(QWidget *page, const QString &name) {
        const QString dir = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        // The host page grows to its minimum width, which in English reaches under the watch pages.
        page->raise();
        QTest::qWait(300);  // the first paint of a dialog just shown
        const QRect r = page->frameGeometry();
        const QPixmap shot = page->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
        QVERIFY(shot.save(QDir(dir).filePath(name + ".png")));
    }
    static int waitingRows(ShareWidget *page) {  // marked as waiting in the member list
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
        uitest::applyScreenshotLanguage();
    }
    void cleanupTestCase() {
        in_.reset();
        lan_.reset();
        pinLoadedLibraries();
    }

    void addressAndCodeWhileSharing() {
        ShareWidget page;
        page.resize(783, 468);
        auto *panel = child<QWidget>(&page, "widget_web");
        auto *url = child<QLabel>(&page, "label_web_url");
        auto *qr = child<QLabel>(&page, "label_web_qr");
        QVERIFY(panel->isHidden() && !page.pageServer());
        startShare(&page);
        // The code shown is the code of the address shown, not of some other text; nothing is cut off.
        auto code = [](const QString &text) {
            return AttendeePageQr::render(text, ShareWidget::kPageQrSize)
                .convertToFormat(QImage::Format_RGB32);
        };
        const QImage shown = qr->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(shown == code(kPageUrl) && shown != code(QStringLiteral("http://10.77.1.2:5677/")));
        QVERIFY(panel->isVisible() && url->width() >= url->sizeHint().width() &&
                panel->geometry().bottom() < page.mainArea()->height());
        QCOMPARE(httpStatus(kPageUrl), 200);
        // The share ends (by its quit button in the page flow): the panel and the page go.
        stopShare(&page);
        QVERIFY(!page.pageServer() && !panel->isVisible() && url->text().isEmpty());
        QVERIFY(qr->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(httpStatus(kPageUrl), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!page.sessionManager(), 20000);
    }

    // On a fresh page: a second share on the same page once did not start in CI.
    void pageServerEndsWithThePage() {
        auto page = std::make_unique<ShareWidget>();
        startShare(page.get());
        QCOMPARE(httpStatus(kPageUrl), 200);
        page.reset();
        QCOMPARE(httpStatus(kPageUrl), 0);
    }

    void asksBeforeSomeoneWatches() {
        SettingCheckBox::store(SettingCheckBox::kAskBeforeWatching, true);
        SettingCheckBox::store(SettingCheckBox::kShareSound, true);
        ShareWidget page;
        page.setGeometry(5, 40, 900, 520);  // it grows to its minimum width: about 990, in English more
        startShare(&page);
        auto *host = qobject_cast<OriginatorRtcManager *>(page.sessionManager());
        QVERIFY(host && host->asksBeforeWatching() && child<QCheckBox>(&page, "check_admit")->isChecked());
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
                     question.contains(QCoreApplication::translate("AdmitMemberDialog", "电脑")),
                 qPrintable(question));
        QTRY_VERIFY_WITH_TIMEOUT(first.waitsForAdmission() && waitingRows(&page) == 1, 10000);
        QVERIFY(child<QLabel>(&first, "label_admission")->isVisible());
        // A second one waits behind the first: still one question, now offering to admit both.
        second.joinShare(kHostIp, QStringLiteral("观众乙"));
        QTRY_VERIFY_WITH_TIMEOUT(
            child<QPushButton>(asking, "btn_admit_all")->isVisible() && waitingRows(&page) == 2, 20000);
        auto *firstManager = static_cast<AttendeeRtcManager *>(first.sessionManager());
        QVERIFY(page.admitDialog() == asking && host->attendeeIds().isEmpty() &&
                !firstManager->fileTransferor());
        save(&page, "host-admission");
        save(&first, "watch-admission");
        QTest::mouseClick(child<QPushButton>(asking, "btn_admit"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!first.waitsForAdmission() && firstManager->fileTransferor(), 20000);
        QVERIFY(!child<QLabel>(&first, "label_admission")->isVisible() && host->attendeeIds().size() == 1);
        QTRY_VERIFY_WITH_TIMEOUT(page.admitDialog() && page.admitDialog()->isVisible(), 10000);
        QVERIFY(!child<QPushButton>(page.admitDialog(), "btn_admit_all")->isVisible());
        QSignalSpy refused(&second, &WatchWidget::sigQuitShare);
        QTest::mouseClick(child<QPushButton>(page.admitDialog(), "btn_refuse"), Qt::LeftButton);
        QVERIFY(refused.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(&page), 0, 10000);
        QVERIFY(!page.admitDialog() && host->attendeeIds().size() == 1 &&
                first.sessionManager() == firstManager && firstManager->peerConnection() > 0);
        // Switched off on the page during the share: the next one watches unasked.
        QTRY_VERIFY_WITH_TIMEOUT(!second.sessionManager(), 10000);
        QTest::mouseClick(child<QCheckBox>(&page, "check_admit"), Qt::LeftButton);
        QVERIFY(!host->asksBeforeWatching() && !SettingCheckBox::stored(SettingCheckBox::kAskBeforeWatching));
        second.joinShare(kHostIp, QStringLiteral("观众乙"));
        QTRY_COMPARE_WITH_TIMEOUT(host->attendeeIds().size(), 2, 20000);
        QVERIFY(!page.admitDialog() && !second.waitsForAdmission());
        stopShare(&page);
    }
};

QTEST_MAIN(TestHostPage)
#include "tst_hostpage.moc"
