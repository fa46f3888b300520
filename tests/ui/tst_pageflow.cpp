// The whole program through its real windows on the namespace LAN: a host window and an attendee
// window in one process on host 1 (the media engine is process-wide, so both share one namespace),
// two more shares answering discovery on hosts 2 and 3. Every step is a click or a key on the real
// widgets; each test function needs the one before. With ZU_SCREENSHOT_DIR set, the pictures of each
// step are saved there for the user's guide.
#include "mainwindow.h"
#include "patternwindow.h"
#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
#include "scan/scanserver.h"
#include "support/pinlibraries.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/appwindowwidget.h"
#include "ui/createsharebutton.h"
#include "ui/fileprogressdialog.h"
#include "ui/hostwidget.h"
#include "ui/inputipdialog.h"
#include "ui/loadingdialog.h"
#include "ui/mainwidget.h"
#include "ui/memberlistwidget.h"
#include "ui/messagedialog.h"
#include "ui/quitsharedialog.h"
#include "ui/receivefiledialog.h"
#include "ui/selectsourcedialog.h"
#include "ui/sharewidget.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/watchtoolwidget.h"
#include "ui/watchwidget.h"
#include "uiscript.h"
#include "video/videowidgetinterface.h"

using testsupport::TestLan;
using uitest::child;
using uitest::modal;
using uitest::visible;

namespace {

const QString kPattern = QStringLiteral("图案窗口"), kPlain = QStringLiteral("纯色窗口");
const QColor kPlainColour(200, 60, 200);

// Records what the desktop would have been asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

QWidget *videoOf(MainWindow *w) {
    return dynamic_cast<QWidget *>(w->watchPage()->videoView().get());
}

QImage viewImage(MainWindow *w) {
    QWidget *view = videoOf(w);
    return view ? view->grab().toImage() : QImage();
}

// Colours at the middles of the four quadrants, relative to the view's centre.
bool showsQuadrants(const QImage &image) {
    if (image.isNull())
        return false;
    const QPoint c(image.width() / 2, image.height() / 2);
    const int dx = image.width() / 5, dy = image.height() / 5;
    const QPoint at[4] = {c + QPoint(-dx, -dy), c + QPoint(dx, -dy), c + QPoint(-dx, dy), c + QPoint(dx, dy)};
    for (int q = 0; q < 4; ++q) {
        if (!colourNear(image.pixelColor(at[q]), PatternWindow::quadrant(q)))
            return false;
    }
    return true;
}

AppWindowWidget *thumbnailTitled(SelectSourceDialog *dialog, const QString &title) {
    const auto all = dialog->thumbnails();
    const auto it =
        std::find_if(all.begin(), all.end(), [&](AppWindowWidget *a) { return a->title() == title; });
    return it == all.end() ? nullptr : *it;
}

HostWidget *tileFor(MainWindow *w, const QString &ip) {
    const auto all = w->startPage()->tiles();
    const auto it = std::find_if(all.begin(), all.end(), [&](HostWidget *tile) { return tile->ip() == ip; });
    return it == all.end() ? nullptr : *it;
}

// Selects a window in the open source dialog and shares it; only the host's own windows may not be
// offered (another instance's window is an ordinary source).
bool pickSource(UiScript &script, SelectSourceDialog *d, const QString &title, const QString &pictures = {}) {
    AppWindowWidget *app = thumbnailTitled(d, title);
    if (modal<SelectSourceDialog>() != d || !app)
        return false;
    for (AppWindowWidget *a : d->thumbnails()) {
        if (a->title() == QStringLiteral("Zu屏幕共享") || a->title() == QStringLiteral("ZuShare"))
            script.fail("offered " + a->title());
    }
    auto *create = child<QPushButton>(d, "btn_create");
    if (create->isEnabled())
        script.fail("share button enabled before a choice");
    QTest::mouseClick(app, Qt::LeftButton);
    if (!app->isSelected() || !create->isEnabled())
        script.fail("selection not taken");
    if (!pictures.isEmpty() && !d->grab().save(QDir(pictures).filePath("source-selected.png")))
        script.fail("no picture");
    QTest::mouseClick(create, Qt::LeftButton);
    return true;
}

}  // namespace

class TestPageFlow : public QObject {
    Q_OBJECT

private:
    QString shots_ = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
    QTemporaryDir temp_;
    QString downloads_, sentPath_;
    QByteArray sent_;
    UrlRecorder recorder_;
    std::unique_ptr<TestLan> lan_;
    std::unique_ptr<TestLan::Enter> in_;
    std::unique_ptr<PatternWindow> pattern_, plain_;
    std::unique_ptr<MainWindow> host_, attendee_;
    std::vector<std::shared_ptr<ScanServer>> others_;
    int attendeePeer_ = 0;
    bool broken_ = false;

    void save(const QImage &image, const QString &name) {
        if (!shots_.isEmpty())
            QVERIFY(image.save(QDir(shots_).filePath(name + ".png")));
    }
    // What the user sees in a screen rectangle: windows and the dialogs over them.
    static QImage screenRect(const QRect &r) {
        return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    }
    QLineEdit *attendeeNick() const { return child<QLineEdit>(attendee_->startPage(), "lineEdit_nickname"); }

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY(shots_.isEmpty() || QDir().mkpath(shots_));
        // The attendee's files land in a folder of the test's own.
        QVERIFY(temp_.isValid());
        downloads_ = temp_.filePath("downloads");
        QVERIFY(QDir().mkpath(downloads_) && QDir().mkpath(temp_.filePath("config")));
        QFile dirs(temp_.filePath("config/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write(QStringLiteral("XDG_DOWNLOAD_DIR=\"%1\"\n").arg(downloads_).toUtf8());
        dirs.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp_.filePath("config")));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), downloads_);
        sentPath_ = temp_.filePath("季度报告.bin");
        sent_.resize(3 * 1024 * 1024 + 777);
        for (char &c : sent_)
            c = char(QRandomGenerator::global()->bounded(256));
        QFile f(sentPath_);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(sent_) == sent_.size());
        f.close();
        QDesktopServices::setUrlHandler("file", &recorder_, "open");

        lan_ = std::make_unique<TestLan>(3);
        QVERIFY2(lan_->isUp(), qPrintable(lan_->errorString()));
        in_ = std::make_unique<TestLan::Enter>(*lan_, 1);
        QVERIFY(in_->ok());
        // What the host will share: a window with four known colours, then a plain one.
        pattern_ = std::make_unique<PatternWindow>(kPattern);
        pattern_->setGeometry(40, 600, 880, 440);
        plain_ = std::make_unique<PatternWindow>(kPlain, kPlainColour);
        plain_->setGeometry(1000, 600, 700, 400);
        host_ = std::make_unique<MainWindow>();
        attendee_ = std::make_unique<MainWindow>();
        attendee_->setWindowTitle(QStringLiteral("Zu屏幕共享 - 观众"));
        host_->move(0, 0);
        attendee_->move(960, 0);
        for (QWidget *w : {static_cast<QWidget *>(pattern_.get()), static_cast<QWidget *>(plain_.get()),
                           static_cast<QWidget *>(host_.get()), static_cast<QWidget *>(attendee_.get())}) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w, 20000));
        }
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        others_.clear();
        attendee_.reset();
        host_.reset();
        in_.reset();
        lan_.reset();
        pinLoadedLibraries();
    }
    void init() {
        if (broken_)
            QFAIL("an earlier step failed");
    }
    void cleanup() { broken_ = broken_ || QTest::currentTestFailed(); }

    void startPageWithoutShares() {
        QTRY_VERIFY_WITH_TIMEOUT(child<QWidget>(attendee_->startPage(), "widget_none_host")->isVisible(),
                                 10000);
        QVERIFY(attendee_->startPage()->tiles().isEmpty());
        save(attendee_->grab().toImage(), "start-empty");
        // Two other shares on the LAN answer discovery from now on.
        for (int h : {2, 3}) {
            TestLan::Enter there(*lan_, h);
            auto server = std::make_shared<ScanServer>();
            QSignalSpy listening(server.get(), &ScanServer::sigListeningSuccess);
            server->postStartListening(ShareWidget::kScanPort);
            QVERIFY(listening.wait(10000));
            others_.push_back(server);
        }
    }

    // By address: refused without a nickname; with a nickname of spaces (taken as it is) to an address
    // where nobody answers, the loading dialog and after the join time-out the failure message.
    void attendeeJoinsNowhere() {
        QSignalSpy failed(attendee_->watchPage(), &WatchWidget::sigJoinShareFail);
        // From the click that starts the loading delay to the failure signal that ends the time-out.
        QElapsedTimer joining;
        qint64 failedAfterMs = -1;
        connect(attendee_->watchPage(), &WatchWidget::sigJoinShareFail, this,
                [&] { failedAfterMs = joining.elapsed(); });
        auto byAddress = [&](const QString &nick) {
            return [&, nick] {
                if (modal<MessageDialog>())
                    return false;
                attendeeNick()->clear();
                uitest::typeText(attendeeNick(), nick);
                return UiScript::clicking(
                    [&] { return child<QPushButton>(attendee_->startPage(), "btn_inputip_1"); })();
            };
        };
        auto typeAddress = [&] {
            InputIpDialog *d = modal<InputIpDialog>();
            if (!d)
                return false;
            uitest::typeText(child<QLineEdit>(d, "edit_ip"), QStringLiteral("10.77.1.9"));
            UiScript::later([&, d] {
                joining.start();
                QTest::mouseClick(child<QPushButton>(d, "btn_join"), Qt::LeftButton);
            });
            return true;
        };
        QString refusal, failure;
        UiScript script(30000);
        script.add("address button without a nickname", byAddress(QString()));
        script.add("an address nobody has", typeAddress);
        script.add("refused", [&] { return uitest::takeTexts<MessageDialog>(refusal); });
        script.add("address button with spaces", byAddress(QStringLiteral("  ")));
        script.add("the same address", typeAddress);
        script.add("failure message", [&] { return uitest::takeTexts<MessageDialog>(failure); });
        script.add("back on the start page", [&] {
            return !modal<MessageDialog>() && attendee_->currentPage() == attendee_->startPage() &&
                   !attendee_->loadingDialog()->isVisible();
        });
        UI_RUN(script, 60000);
        QVERIFY2(refusal.contains(QStringLiteral("昵称能为空!")), qPrintable(refusal));
        QCOMPARE(failed.size(), 1);
        // Both are coarse timers, which may fire up to 5% early.
        QVERIFY2(failedAfterMs >= (MainWindow::kLoadingDelayMs + WatchWidget::kJoinTimeoutMs) * 95 / 100,
                 qPrintable(QString::number(failedAfterMs)));
        QVERIFY2(
            failure.contains(QStringLiteral("加入共享失败，请 输入/选择 正确的ip地址，或检查您的网络环境！")),
            qPrintable(failure));
        QVERIFY(!attendee_->watchPage()->sessionManager());
    }

    void hostCreatesShareOfAWindow() {
        UiScript script(30000);
        script.add("host clicks create share",
                   UiScript::clicking([&] { return host_->startPage()->createShareButton(); }));
        script.add("loading dialog shows", [&] { return modal<LoadingDialog>() == host_->loadingDialog(); });
        script.add("source dialog lists the windows", [&] {
            SelectSourceDialog *d = host_->selectSourceDialog();
            return modal<SelectSourceDialog>() == d && thumbnailTitled(d, kPattern) &&
                   thumbnailTitled(d, kPlain) && thumbnailTitled(d, QStringLiteral("Zu屏幕共享 - 观众"));
        });
        script.add("the thumbnails draw", [&] { return shots_.isEmpty() || script.stepElapsed() > 600; });
        script.add("pick the pattern window", [&] {
            save(host_->selectSourceDialog()->grab().toImage(), "source");
            return pickSource(script, host_->selectSourceDialog(), kPattern, shots_);
        });
        script.add("host page with its LAN address", [&] {
            return host_->currentPage() == host_->hostPage() && host_->hostPage()->isVisible() &&
                   qobject_cast<OriginatorRtcManager *>(host_->hostPage()->sessionManager()) &&
                   child<QLabel>(host_->hostPage(), "label_ip")->text() == QStringLiteral("IP: 10.77.1.1");
        });
        UI_RUN(script, 60000);
    }

    void attendeeFindsTheSharesAndJoins() {
        UiScript script(30000);
        script.add("attendee refreshes and sees exactly the three shares", [&] {
            if (script.stepElapsed() < 100 ||
                (script.stepElapsed() > 3000 && script.stepElapsed() % 3000 < 40))
                QTest::mouseClick(child<QPushButton>(attendee_->startPage(), "btn_refresh_host_list"),
                                  Qt::LeftButton);
            const int tiles = attendee_->startPage()->tiles().size();
            if (tiles > 3)
                script.fail(QString::number(tiles));
            return tiles == 3 && tileFor(attendee_.get(), "10.77.1.1") &&
                   tileFor(attendee_.get(), "10.77.1.2") && tileFor(attendee_.get(), "10.77.1.3");
        });
        script.add("attendee selects the host's tile", [&] {
            HostWidget *tile = tileFor(attendee_.get(), "10.77.1.1");
            QTest::mouseClick(tile, Qt::LeftButton);
            if (!tile->isSelected())
                script.fail("tile not selected");
            QTest::mouseMove(tile);
            return true;
        });
        script.add("tile tool tip names the whole address", [&] {
            if (QToolTip::text() != QStringLiteral("10.77.1.1"))
                return false;
            save(attendee_->grab().toImage(), "start");
            return true;
        });
        script.add("attendee double-clicks the host with a nickname", [&] {
            attendeeNick()->clear();
            uitest::typeText(attendeeNick(), QStringLiteral("观众小王"));
            HostWidget *tile = tileFor(attendee_.get(), "10.77.1.1");
            UiScript::later([tile] { QTest::mouseDClick(tile, Qt::LeftButton); });
            return true;
        });
        script.add("attendee waits in the loading dialog",
                   [&] { return modal<LoadingDialog>() == attendee_->loadingDialog(); });
        script.add("attendee reaches the watch page", [&] {
            return attendee_->currentPage() == attendee_->watchPage() &&
                   attendee_->watchPage()->isVisible() && !attendee_->loadingDialog()->isVisible();
        });
        UI_RUN(script, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(showsQuadrants(viewImage(attendee_.get())), 30000);
        MemberListWidget *list = host_->hostPage()->memberList();
        QTRY_VERIFY_WITH_TIMEOUT(list->memberIds().size() == 1, 20000);
        QCOMPARE(list->nickName(list->memberIds().first()), QStringLiteral("观众小王"));
        auto *am = qobject_cast<AttendeeRtcManager *>(attendee_->watchPage()->sessionManager());
        QVERIFY(am && (attendeePeer_ = am->peerConnection()) > 0);
        QTest::qWait(shots_.isEmpty() ? 0 : 300);  // the member row's first paint, for the pictures
        save(host_->grab().toImage(), "host");
        save(attendee_->grab().toImage(), "watch");
        save(screenRect(QRect(0, 0, 1920, 1080)), "flow-watching");
    }

    void downloadFolderButtonOpensTheDownloads() {
        QTest::mouseClick(child<QPushButton>(attendee_->watchPage(), "pushButton"), Qt::LeftButton);
        QCOMPARE(recorder_.urls, QList<QUrl>({QUrl::fromLocalFile(downloads_)}));
    }

    void hostSendsAFileFromTheMemberMenu() {
        UiScript script(60000);
        script.add("host right-clicks the attendee", [&] {
            auto *rows = child<QListWidget>(host_->hostPage()->memberList(), "userlistWidget");
            if (rows->count() < 2)
                return false;
            const QPoint at = rows->visualItemRect(rows->item(1)).center();
            QTest::mouseMove(rows->viewport(), at);
            // What the platform sends for a right press; QTest's widget clicks do not make one.
            UiScript::later([rows, at] {
                QContextMenuEvent event(QContextMenuEvent::Mouse, at, rows->viewport()->mapToGlobal(at));
                QApplication::sendEvent(rows->viewport(), &event);
            });
            return true;
        });
        script.add("member menu: 传输文件", [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return false;
            for (QAction *action : menu->actions()) {
                if (action->text() == QStringLiteral("传输文件")) {
                    const QPoint at = menu->actionGeometry(action).center();
                    UiScript::later(
                        [menu, at] { QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, at); });
                    return true;
                }
            }
            script.fail("no 传输文件 entry");
            return true;
        });
        script.add("file dialog takes the path", [&] {
            auto *dialog = modal<QFileDialog>();
            auto *name = dialog ? dialog->findChild<QLineEdit *>("fileNameEdit") : nullptr;
            // The dialog fills its views after it shows; keys typed before are lost.
            if (!name || !dialog->isActiveWindow() || script.stepElapsed() < 200)
                return false;
            name->setFocus();
            uitest::typeText(name, sentPath_);
            if (name->text() != sentPath_)
                script.fail("typed " + name->text());
            UiScript::later([name] { QTest::keyClick(name, Qt::Key_Return); });
            return true;
        });
        script.add("both dialogs reach 100 %", [&] {
            auto *send = modal<SingleTransFileProgressDialog>();
            auto *receive = visible<ReceiveFileDialog>();
            return send && receive && send->progress() == 100 && receive->progress() == 100;
        });
        script.add("the pictures of both", [&] {
            if (!shots_.isEmpty() && script.stepElapsed() < 300)  // the last paint of both
                return false;
            save(screenRect(host_->geometry()), "transfer");
            save(screenRect(attendee_->geometry()), "receive");
            return true;
        });
        script.add("the file arrived unchanged", [&] {
            const QString got = QDir(downloads_).filePath("季度报告.bin");
            if (!QFile::exists(got))
                return false;
            if (testsupport::readFile(got) != sent_)
                script.fail("content differs");
            return true;
        });
        script.add("both close their dialogs", [&] {
            if (auto *d = visible<FileProgressDialog>())
                QTest::mouseClick(child<QPushButton>(d, "btn_ok"), Qt::LeftButton);
            return !visible<FileProgressDialog>();
        });
        UI_RUN(script, 120000);
    }

    void fullScreenHidesTheBarWhileStill() {
        auto *tools = attendee_->watchPage()->toolWidget();
        QTest::mouseClick(child<QPushButton>(tools, "btn_fullScrren"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(attendee_->windowState() == Qt::WindowFullScreen, 10000);
        auto chromeShown = [&] {
            return attendee_->titleArea()->isVisible() +
                   child<QWidget>(attendee_->watchPage(), "memwidget")->isVisible() +
                   child<QWidget>(attendee_->watchPage(), "toolsWidget")->isVisible();
        };
        QTRY_COMPARE_WITH_TIMEOUT(chromeShown(), 0, 10000);
        QTest::mouseMove(videoOf(attendee_.get()), QPoint(300, 300));
        QElapsedTimer still;
        still.start();
        QTRY_VERIFY_WITH_TIMEOUT(!tools->barShown(), 10000);
        // The bar counts half-second ticks from the last movement it saw, which may be a little before
        // the clock started: anything clearly under two seconds is a fault.
        QVERIFY(still.elapsed() >= 1500);
        save(screenRect(QRect(0, 0, 1920, 1080)), "watch-fullscreen");
        QTest::mouseMove(videoOf(attendee_.get()), QPoint(500, 420));
        QTRY_VERIFY_WITH_TIMEOUT(tools->barShown(), 10000);

        QTest::keyClick(attendee_.get(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(attendee_->windowState() == Qt::WindowNoState && chromeShown() == 3 &&
                                     child<QWidget>(tools, "btn_ctrl_memlist")->isVisible(),
                                 10000);
    }

    void hostSwitchesSourceOnTheSameConnection() {
        UiScript script(30000);
        script.add("host switches the source",
                   UiScript::clicking([&] { return child<QPushButton>(host_->hostPage(), "btn_switch"); }));
        script.add("switch dialog: pick the plain window",
                   [&] { return pickSource(script, host_->switchSourceDialog(), kPlain); });
        UI_RUN(script, 60000);
        QImage image;
        QTRY_VERIFY_WITH_TIMEOUT(!(image = viewImage(attendee_.get())).isNull() &&
                                     colourNear(image.pixelColor(image.rect().center()), kPlainColour),
                                 30000);
        auto *am = qobject_cast<AttendeeRtcManager *>(attendee_->watchPage()->sessionManager());
        QVERIFY(am && am->peerConnection() == attendeePeer_);
        QCOMPARE(host_->currentPage(), host_->hostPage());
    }

    // A cancelled quit changes nothing; the confirmed one ends both ends.
    void hostQuitsAndBothReturnToTheStartPage() {
        UiScript script(30000);
        auto clickQuit =
            UiScript::clicking([&] { return child<QPushButton>(host_->hostPage(), "btn_quit"); });
        script.add("host quits", clickQuit);
        script.add("cancel", [] { return uitest::answer<QuitShareDialog>("btn_cancel"); });
        script.add("nothing happened", [&] {
            // Nothing to wait for: a share that a cancel ends would end within the second.
            if (modal<QuitShareDialog>() || script.stepElapsed() < 1000)
                return false;
            if (!host_->hostPage()->sessionManager() || !host_->hostPage()->pageServer() ||
                !attendee_->watchPage()->sessionManager())
                script.fail("the share went with a cancelled quit");
            return clickQuit();
        });
        script.add("confirm", [] { return uitest::answer<QuitShareDialog>("btn_ok"); });
        UI_RUN(script, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(
            host_->currentPage() == host_->startPage() &&
                attendee_->currentPage() == attendee_->startPage() && host_->startPage()->isVisible() &&
                attendee_->startPage()->isVisible() && !host_->hostPage()->sessionManager() &&
                !attendee_->watchPage()->sessionManager() && !host_->hostPage()->pageServer(),
            30000);
    }
};

QTEST_MAIN(TestPageFlow)
#include "tst_pageflow.moc"
