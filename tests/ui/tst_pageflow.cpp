// The whole program through its real windows on the namespace LAN: a host window and an attendee
// window in one process on host 1 (the media engine is process-wide, so both share one namespace),
// two more shares answering discovery on hosts 2 and 3. Every step is a click or a key on the real
// widgets. The pictures of each step are saved for the user's guide: <build>/screenshots/pages/ or
// $ZU_SCREENSHOT_DIR.
#include <QtTest>

#include "ui/createsharebutton.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolTip>

#include <memory>

#include "mainwindow.h"
#include "patternwindow.h"
#include "rtc/attendeertcmanager.h"
#include "rtc/originatorrtcmanager.h"
#include "scan/scanserver.h"
#include "support/pinlibraries.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/appwindowwidget.h"
#include "ui/fileprogressdialog.h"
#include "ui/hostwidget.h"
#include "ui/loadingdialog.h"
#include "ui/mainwidget.h"
#include "ui/memberlistwidget.h"
#include "ui/quitsharedialog.h"
#include "ui/receivefiledialog.h"
#include "ui/selectsourcedialog.h"
#include "ui/sharewidget.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/watchtoolwidget.h"
#include "ui/watchwidget.h"
#include "uiscript.h"
#include "video/videowidgetinterface.h"
#include "web/attendeepageserver.h"

using testsupport::TestLan;
using uitest::child;
using uitest::modal;

namespace {

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
    for (AppWindowWidget *app : dialog->thumbnails()) {
        if (app->title() == title)
            return app;
    }
    return nullptr;
}

HostWidget *tileFor(MainWindow *w, const QString &ip) {
    for (HostWidget *tile : w->startPage()->tiles()) {
        if (tile->ip() == ip)
            return tile;
    }
    return nullptr;
}

}  // namespace

class TestPageFlow : public QObject {
    Q_OBJECT

private:
    QDir shots_;
    QTemporaryDir temp_;

    void save(const QImage &image, const QString &name) {
        QVERIFY(!image.isNull());
        QVERIFY(image.save(shots_.filePath(name + ".png")));
    }
    // What the user sees in a screen rectangle: windows and the dialogs over them.
    QImage screenRect(const QRect &rect) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
            .toImage();
    }

private slots:
    void initTestCase() {
        QString path = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (path.isEmpty())
            path = QStringLiteral(ZU_SCREENSHOT_DEFAULT_DIR);
        QVERIFY(QDir().mkpath(path));
        shots_ = QDir(path);
        QVERIFY(temp_.isValid());
        // The attendee's files land in a folder of the test's own.
        const QString downloads = temp_.filePath("downloads");
        QVERIFY(QDir().mkpath(downloads));
        QDir().mkpath(temp_.filePath("config"));
        QFile dirs(temp_.filePath("config/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write(QStringLiteral("XDG_DOWNLOAD_DIR=\"%1\"\n").arg(downloads).toUtf8());
        dirs.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp_.filePath("config")));
    }
    void cleanupTestCase() { pinLoadedLibraries(); }

    void wholeShare() {
        ZU_REQUIRE_TEST_NAMESPACE();
        TestLan lan(3);
        QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
        TestLan::Enter in(lan, 1);
        QVERIFY(in.ok());

        const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QCOMPARE(downloads, temp_.filePath("downloads"));
        const QString sentPath = temp_.filePath("季度报告.bin");
        QByteArray sent(3 * 1024 * 1024 + 777, Qt::Uninitialized);
        for (int i = 0; i < sent.size(); ++i)
            sent[i] = char(QRandomGenerator::global()->bounded(256));
        {
            QFile f(sentPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(sent);
        }
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");

        // What the host will share: a window with four known colours, then a plain one.
        PatternWindow pattern(QStringLiteral("图案窗口"));
        pattern.setGeometry(40, 600, 880, 440);
        pattern.show();
        PatternWindow plain(QStringLiteral("纯色窗口"), QColor(200, 60, 200));
        plain.setGeometry(1000, 600, 700, 400);
        plain.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pattern, 20000));
        QVERIFY(QTest::qWaitForWindowExposed(&plain, 20000));

        auto host = std::make_unique<MainWindow>();
        auto attendee = std::make_unique<MainWindow>();
        // Another instance's window is an ordinary source; only the host's own ones are left out.
        attendee->setWindowTitle(QStringLiteral("Zu屏幕共享 - 观众"));
        host->move(0, 0);
        attendee->move(960, 0);
        host->show();
        attendee->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.get(), 20000));
        QVERIFY(QTest::qWaitForWindowExposed(attendee.get(), 20000));
        auto *attendeeNick = child<QLineEdit>(attendee->startPage(), "lineEdit_nickname");
        QVERIFY(attendeeNick);

        // Nobody shares yet: the placeholder.
        auto *placeholder = child<QWidget>(attendee->startPage(), "widget_none_host");
        QTest::qWait(1500);
        QTRY_VERIFY_WITH_TIMEOUT(placeholder->isVisible(), 10000);
        QVERIFY(attendee->startPage()->tiles().isEmpty());
        save(attendee->grab().toImage(), "start-empty");

        // Two other shares on the LAN answer discovery.
        std::vector<std::shared_ptr<ScanServer>> others;
        for (int h : {2, 3}) {
            TestLan::Enter there(lan, h);
            auto server = std::make_shared<ScanServer>();
            QSignalSpy listening(server.get(), &ScanServer::sigListeningSuccess);
            server->postStartListening(ShareWidget::kScanPort);
            QVERIFY(listening.wait(10000));
            others.push_back(server);
        }

        UiScript script(30000);
        OriginatorRtcManager *hostManager = nullptr;
        int attendeePeer = 0;
        QElapsedTimer still;

        script.add("host clicks create share", [&] {
            UiScript::later(
                [&] { QTest::mouseClick(host->startPage()->createShareButton(), Qt::LeftButton); });
            return true;
        });
        script.add("loading dialog shows", [&] { return modal<LoadingDialog>() == host->loadingDialog(); });
        script.add("source dialog offers the pattern window", [&] {
            SelectSourceDialog *d = host->selectSourceDialog();
            if (script.stepElapsed() > 15000) {
                QStringList titles;
                for (AppWindowWidget *app : d->thumbnails())
                    titles << app->title();
                script.fail(QStringLiteral("sources %1, thumbnails: %2")
                                .arg(d->sourceCount())
                                .arg(titles.join(" | ")));
                return true;
            }
            if (modal<SelectSourceDialog>() != d || !thumbnailTitled(d, QStringLiteral("图案窗口")) ||
                !thumbnailTitled(d, QStringLiteral("纯色窗口")))
                return false;
            if (!thumbnailTitled(d, QStringLiteral("Zu屏幕共享 - 观众")))
                return false;
            return true;
        });
        script.add("the host's own windows are not offered", [&] {
            SelectSourceDialog *d = host->selectSourceDialog();
            for (AppWindowWidget *app : d->thumbnails()) {
                if (app->title() == QStringLiteral("Zu屏幕共享") || app->title() == QStringLiteral("ZuShare"))
                    script.fail("offered " + app->title());
            }
            auto *create = child<QPushButton>(d, "btn_create");
            if (create->isEnabled())
                script.fail("share button enabled before a choice");
            return true;
        });
        script.add("pick the pattern window", [&] {
            SelectSourceDialog *d = host->selectSourceDialog();
            QTest::qWait(600);  // the thumbnails draw
            save(d->grab().toImage(), "source");
            AppWindowWidget *app = thumbnailTitled(d, QStringLiteral("图案窗口"));
            QTest::mouseClick(app, Qt::LeftButton);
            if (!app->isSelected() || !child<QPushButton>(d, "btn_create")->isEnabled())
                script.fail("selection not taken");
            save(d->grab().toImage(), "source-selected");
            QTest::mouseClick(child<QPushButton>(d, "btn_create"), Qt::LeftButton);
            return true;
        });
        script.add("host page with its LAN address", [&] {
            auto *ip = child<QLabel>(host->hostPage(), "label_ip");
            if (host->currentPage() != host->hostPage() || !host->hostPage()->isVisible())
                return false;
            hostManager = qobject_cast<OriginatorRtcManager *>(host->hostPage()->sessionManager());
            return hostManager && ip->text() == QStringLiteral("IP: 10.77.1.1");
        });
        script.add("host page shows the browser page's address and code", [&] {
            auto *url = child<QLabel>(host->hostPage(), "label_web_url");
            const QPixmap code = child<QLabel>(host->hostPage(), "label_web_qr")->pixmap(Qt::ReturnByValue);
            if (url->text() != QStringLiteral("http://10.77.1.1:5677/") || !url->isVisible())
                return false;
            if (code.isNull() || code.width() != code.height() || !host->hostPage()->pageServer())
                script.fail("no code or no server beside the address");
            return true;
        });
        script.add("attendee refreshes and sees three shares", [&] {
            if (script.stepElapsed() < 100)
                QTest::mouseClick(child<QPushButton>(attendee->startPage(), "btn_refresh_host_list"),
                                  Qt::LeftButton);
            if (attendee->startPage()->tiles().size() < 3) {
                if (script.stepElapsed() > 3000)
                    QTest::mouseClick(child<QPushButton>(attendee->startPage(), "btn_refresh_host_list"),
                                      Qt::LeftButton);
                return false;
            }
            return tileFor(attendee.get(), "10.77.1.1") && tileFor(attendee.get(), "10.77.1.2") &&
                   tileFor(attendee.get(), "10.77.1.3");
        });
        script.add("attendee selects the host's tile", [&] {
            HostWidget *tile = tileFor(attendee.get(), "10.77.1.1");
            QTest::mouseClick(tile, Qt::LeftButton);
            if (!tile->isSelected())
                script.fail("tile not selected");
            QTest::mouseMove(tile);
            return true;
        });
        script.add("tile tool tip names the whole address", [&] {
            if (QToolTip::text() != QStringLiteral("10.77.1.1"))
                return false;
            save(attendee->grab().toImage(), "start");
            return true;
        });
        script.add("attendee double-clicks the host with a nickname", [&] {
            attendeeNick->clear();
            uitest::typeText(attendeeNick, QStringLiteral("观众小王"));
            HostWidget *tile = tileFor(attendee.get(), "10.77.1.1");
            UiScript::later([tile] { QTest::mouseDClick(tile, Qt::LeftButton); });
            return true;
        });
        script.add("attendee waits in the loading dialog",
                   [&] { return modal<LoadingDialog>() == attendee->loadingDialog(); });
        script.add("attendee reaches the watch page", [&] {
            return attendee->currentPage() == attendee->watchPage() && attendee->watchPage()->isVisible() &&
                   !attendee->loadingDialog()->isVisible();
        });
        script.add("attendee sees the pattern", [&] { return showsQuadrants(viewImage(attendee.get())); });
        script.add("host's member list shows the attendee", [&] {
            MemberListWidget *list = host->hostPage()->memberList();
            const QStringList ids = list->memberIds();
            for (const QString &id : ids) {
                if (list->nickName(id) == QStringLiteral("观众小王")) {
                    auto *am = qobject_cast<AttendeeRtcManager *>(attendee->watchPage()->sessionManager());
                    attendeePeer = am ? am->peerConnection() : 0;
                    QTest::qWait(300);
                    save(host->grab().toImage(), "host");
                    save(attendee->grab().toImage(), "watch");
                    save(screenRect(QRect(0, 0, 1920, 1080)), "flow-watching");
                    return attendeePeer > 0;
                }
            }
            return false;
        });
        script.add("download folder button", [&] {
            QTest::mouseClick(child<QPushButton>(attendee->watchPage(), "pushButton"), Qt::LeftButton);
            if (recorder.urls.size() != 1 || recorder.urls[0] != QUrl::fromLocalFile(downloads))
                script.fail("opened " + (recorder.urls.isEmpty() ? QString() : recorder.urls[0].toString()));
            return true;
        });
        script.add("host right-clicks the attendee", [&] {
            auto *rows = child<QListWidget>(host->hostPage()->memberList(), "userlistWidget");
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
            if (!dialog)
                return false;
            auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
            if (!name)
                return false;
            QTest::qWait(200);
            name->setFocus();
            uitest::typeText(name, sentPath);
            UiScript::later([name] { QTest::keyClick(name, Qt::Key_Return); });
            return true;
        });
        script.add("both dialogs reach 100 %", [&] {
            auto *send = modal<SingleTransFileProgressDialog>();
            auto *receive = qobject_cast<ReceiveFileDialog *>([] {
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (qobject_cast<ReceiveFileDialog *>(w) && w->isVisible())
                        return w;
                return static_cast<QWidget *>(nullptr);
            }());
            if (!send || !receive || send->progress() != 100 || receive->progress() != 100)
                return false;
            QTest::qWait(300);
            save(screenRect(host->geometry()), "transfer");
            save(screenRect(attendee->geometry()), "receive");
            return true;
        });
        script.add("the file arrived unchanged", [&] {
            const QString got = QDir(downloads).filePath("季度报告.bin");
            if (!QFile::exists(got))
                return false;
            if (testsupport::readFile(got) != sent)
                script.fail("content differs");
            return true;
        });
        script.add("both close their dialogs", [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<FileProgressDialog *>(w)) {
                    if (d->isVisible()) {
                        auto *ok = child<QPushButton>(d, "btn_ok");
                        UiScript::later([ok] { QTest::mouseClick(ok, Qt::LeftButton); });
                    }
                }
            }
            return true;
        });
        script.add("dialogs gone", [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (qobject_cast<FileProgressDialog *>(w) && w->isVisible())
                    return false;
            }
            return true;
        });
        script.add("attendee goes full screen", [&] {
            auto *button = child<QPushButton>(attendee->watchPage()->toolWidget(), "btn_fullScrren");
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        });
        script.add("full screen layout", [&] {
            if (attendee->windowState() != Qt::WindowFullScreen || attendee->titleArea()->isVisible())
                return false;
            if (child<QWidget>(attendee->watchPage(), "memwidget")->isVisible() ||
                child<QWidget>(attendee->watchPage(), "toolsWidget")->isVisible())
                return false;
            QTest::mouseMove(videoOf(attendee.get()), QPoint(300, 300));
            still.start();
            return true;
        });
        script.add("bar hides while the mouse stays still", [&] {
            if (attendee->watchPage()->toolWidget()->barShown())
                return false;
            // The bar counts half-second ticks from the last movement it saw, which may be a little
            // before the clock started: anything clearly under two seconds is a fault.
            if (still.elapsed() < 1500)
                script.fail(QStringLiteral("hid after %1 ms").arg(still.elapsed()));
            save(screenRect(QRect(0, 0, 1920, 1080)), "watch-fullscreen");
            QTest::mouseMove(videoOf(attendee.get()), QPoint(500, 420));
            return true;
        });
        script.add("bar returns on movement",
                   [&] { return attendee->watchPage()->toolWidget()->barShown(); });
        script.add("Escape leaves full screen", [&] {
            QTest::keyClick(attendee.get(), Qt::Key_Escape);
            return true;
        });
        script.add("normal layout restored", [&] {
            return attendee->windowState() == Qt::WindowNoState && attendee->titleArea()->isVisible() &&
                   child<QWidget>(attendee->watchPage(), "memwidget")->isVisible() &&
                   child<QWidget>(attendee->watchPage(), "toolsWidget")->isVisible() &&
                   child<QWidget>(attendee->watchPage()->toolWidget(), "btn_ctrl_memlist")->isVisible();
        });
        script.add("host switches the source", [&] {
            UiScript::later([&] {
                QTest::mouseClick(child<QPushButton>(host->hostPage(), "btn_switch"), Qt::LeftButton);
            });
            return true;
        });
        script.add("switch dialog: pick the plain window", [&] {
            SelectSourceDialog *d = host->switchSourceDialog();
            if (modal<SelectSourceDialog>() != d)
                return false;
            AppWindowWidget *app = thumbnailTitled(d, QStringLiteral("纯色窗口"));
            if (!app)
                return false;
            for (AppWindowWidget *a : d->thumbnails()) {
                if (a->title() == QStringLiteral("Zu屏幕共享"))
                    script.fail("offered the host window");
            }
            QTest::mouseClick(app, Qt::LeftButton);
            QTest::mouseClick(child<QPushButton>(d, "btn_create"), Qt::LeftButton);
            return true;
        });
        script.add("attendee sees the new source on the same connection", [&] {
            const QImage image = viewImage(attendee.get());
            if (image.isNull() ||
                !colourNear(image.pixelColor(image.width() / 2, image.height() / 2), QColor(200, 60, 200)))
                return false;
            auto *am = qobject_cast<AttendeeRtcManager *>(attendee->watchPage()->sessionManager());
            if (!am || am->peerConnection() != attendeePeer)
                script.fail("the attendee's peer changed");
            if (host->currentPage() != host->hostPage())
                script.fail("host left its page");
            return true;
        });
        uitest::addCancelThenConfirm<QuitShareDialog>(
            script, QStringLiteral("host quits"),
            [&] { return child<QPushButton>(host->hostPage(), "btn_quit"); },
            [&] {
                QTest::qWait(1000);
                if (!host->hostPage()->sessionManager() || host->currentPage() != host->hostPage() ||
                    attendee->currentPage() != attendee->watchPage())
                    script.fail("the share ended");
            });
        script.add("both back on their start pages", [&] {
            return host->currentPage() == host->startPage() &&
                   attendee->currentPage() == attendee->startPage() && host->startPage()->isVisible() &&
                   attendee->startPage()->isVisible() && !host->hostPage()->sessionManager() &&
                   !attendee->watchPage()->sessionManager() && !host->hostPage()->pageServer();
        });

        script.start();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished(), 240000);
        QVERIFY2(script.succeeded(), qPrintable(script.failure()));
        QDesktopServices::unsetUrlHandler("file");
    }
};

QTEST_MAIN(TestPageFlow)
#include "tst_pageflow.moc"
