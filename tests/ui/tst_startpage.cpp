// Single cases of the start page, the address dialog, the join time-out and the source dialog,
// each on the real widgets under Xvfb. The start page's scanner broadcasts, so the cases run only
// inside the test namespace (the join time-out on a LAN of its own).
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <QProcess>
#include <QScreen>

#include <X11/Xlib.h>
#include <memory>

#include "mainwindow.h"
#include "patternwindow.h"
#include "support/pinlibraries.h"
#include "support/testlan.h"
#include "support/testsupport.h"
#include "ui/appwindowwidget.h"
#include "ui/hostwidget.h"
#include "ui/inputipdialog.h"
#include "ui/loadingdialog.h"
#include "ui/mainwidget.h"
#include "ui/messagedialog.h"
#include "ui/selectappwidget_line.h"
#include "ui/selecthost_line.h"
#include "ui/selectsourcedialog.h"
#include "ui/watchwidget.h"
#include "uiscript.h"

using testsupport::TestLan;
using uitest::child;
using uitest::modal;

namespace {

QStringList hostsOf(int count, const QString &prefix = QStringLiteral("10.77.1.")) {
    QStringList hosts;
    for (int i = 1; i <= count; ++i)
        hosts << prefix + QString::number(i);
    return hosts;
}

// What the scanner would deliver: the page's own slot, called as its signal would call it.
void deliver(MainWidget *page, const QStringList &hosts) {
    QVERIFY(QMetaObject::invokeMethod(page, "onHostListRefreshed", Qt::DirectConnection,
                                      Q_ARG(QStringList, hosts)));
}

QList<int> rowSizes(MainWidget *page) {
    QList<int> sizes;
    for (SelectHost_Line *row : page->rows())
        sizes << row->hostCount();
    return sizes;
}

// True while a compositing manager owns the screen's selection.
bool compositing() {
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    const bool owned = XGetSelectionOwner(display, selection) != None;
    XCloseDisplay(display);
    return owned;
}

// Points just inside the window's edges and in its pages, in window coordinates.
QList<QPoint> samplePoints(const QWidget *w) {
    const int x2 = w->width() - 5, y2 = w->height() - 5;
    return {QPoint(4, 4),
            QPoint(x2, 4),
            QPoint(4, y2),
            QPoint(x2, y2),
            QPoint(4, w->height() / 2),
            QPoint(w->width() / 2, y2),
            QPoint(170, 300),
            QPoint(w->width() / 2, 28)};
}

QList<QColor> onScreen(const QWidget *w) {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    QList<QColor> colours;
    for (const QPoint &p : samplePoints(w))
        colours << screen.pixelColor(w->mapToGlobal(p));
    return colours;
}

QString messageText(MessageDialog *dialog) {
    QStringList texts;
    for (QLabel *label : dialog->findChildren<QLabel *>())
        texts << label->text();
    return texts.join('\n');
}

}  // namespace

class TestStartPage : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { pinLoadedLibraries(); }

    // First, before any window of the program has been on the display.
    void nineSourcesInRowsOfFour() {
        // One screen and eight windows of the test's own.
        std::vector<std::unique_ptr<PatternWindow>> windows;
        for (int i = 0; i < 8; ++i) {
            windows.push_back(std::make_unique<PatternWindow>(QStringLiteral("源窗口 %1").arg(i + 1),
                                                              PatternWindow::quadrant(i)));
            windows.back()->setGeometry(40 + 200 * (i % 4), 100 + 300 * (i / 4), 180, 240);
            windows.back()->show();
        }
        for (auto &w : windows)
            QVERIFY(QTest::qWaitForWindowExposed(w.get(), 20000));
        SelectSourceDialog dialog;
        dialog.setExcludedWindows({uint64_t(dialog.winId())});
        UiScript script(30000);
        QList<int> sizes;
        QStringList titles;
        script.add("nine thumbnails", [&] {
            if (!dialog.isVisible() || dialog.thumbnails().size() < 9) {
                if (dialog.isVisible() && script.stepElapsed() > 5000 && script.stepElapsed() % 3000 < 40)
                    QTest::mouseClick(dialog.refreshButton(), Qt::LeftButton);
                return false;
            }
            for (SelectAppWidget_Line *row : dialog.rows())
                sizes << row->appCount();
            for (AppWindowWidget *app : dialog.thumbnails())
                titles << app->title();
            UiScript::later([&] { dialog.reject(); });
            return true;
        });
        script.start();
        QTimer::singleShot(0, &dialog, [&] { dialog.exec(); });
        QTRY_VERIFY_WITH_TIMEOUT(script.finished() && !dialog.isVisible(), 40000);
        QVERIFY2(script.succeeded(), qPrintable(script.failure() + " " + titles.join(" | ")));
        QVERIFY2(sizes == QList<int>({4, 4, 1}), qPrintable(titles.join(" | ")));
        for (int i = 0; i < 8; ++i)
            QVERIFY2(titles.contains(QStringLiteral("源窗口 %1").arg(i + 1)), qPrintable(titles.join(" | ")));
    }

    // The translucent frameless window shows its own colours everywhere, over a backdrop that
    // would show through, without a compositing manager and with one.
    void translucentWindowWithAndWithoutCompositor() {
        ZU_REQUIRE_TEST_NAMESPACE();
        if (QStandardPaths::findExecutable("xcompmgr").isEmpty())
            QSKIP("xcompmgr is not installed");
        QVERIFY(!compositing());
        PatternWindow backdrop(QStringLiteral("背景"), QColor(255, 0, 255));
        backdrop.setGeometry(0, 0, 1200, 800);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop, 20000));
        MainWindow window;
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 20000));
        window.raise();
        const QColor backdropColour(255, 0, 255);
        auto looksOwn = [&](const QList<QColor> &colours) {
            for (const QColor &c : colours) {
                if (colourNear(c, backdropColour) || colourNear(c, Qt::black))
                    return false;
            }
            return true;
        };
        // The grab sees the backdrop where the window is not, so it would see it through the window.
        auto backdropSeen = [&] {
            const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0, 50, 50, 1, 1).toImage();
            return colourNear(screen.pixelColor(0, 0), backdropColour);
        };
        QTRY_VERIFY_WITH_TIMEOUT(backdropSeen(), 10000);
        QList<QColor> plain;
        QTRY_VERIFY_WITH_TIMEOUT(looksOwn(plain = onScreen(&window)), 10000);

        QProcess compositor;
        compositor.start(QStringLiteral("xcompmgr"), QStringList());
        QVERIFY(compositor.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(compositing(), 10000);
        window.update();
        QList<QColor> composited;
        QTRY_VERIFY_WITH_TIMEOUT(
            looksOwn(composited = onScreen(&window)) &&
                [&] {
                    for (int i = 0; i < plain.size(); ++i)
                        if (!colourNear(plain[i], composited[i]))
                            return false;
                    return true;
                }(),
            10000);
        QVERIFY(backdropSeen());
        compositor.terminate();
        QVERIFY(compositor.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!compositing(), 10000);
    }

    void rowsOfFour() {
        ZU_REQUIRE_TEST_NAMESPACE();
        MainWidget page;
        page.resize(943, 468);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        deliver(&page, hostsOf(4));
        QCOMPARE(rowSizes(&page), QList<int>({4}));
        deliver(&page, hostsOf(5));
        QCOMPARE(rowSizes(&page), QList<int>({4, 1}));
        QCOMPARE(page.tiles().size(), 5);
        QCOMPARE(page.tiles().last()->ip(), QStringLiteral("10.77.1.5"));
        QCOMPARE(page.rows().last()->hostAt(0), page.tiles().last());
        deliver(&page, hostsOf(8));
        QCOMPARE(rowSizes(&page), QList<int>({4, 4}));
        deliver(&page, {});
        QVERIFY(page.rows().isEmpty());
        QVERIFY(child<QWidget>(&page, "widget_none_host")->isVisible());
    }

    void equalLastNumbersDifferByAddress() {
        ZU_REQUIRE_TEST_NAMESPACE();
        MainWidget page;
        page.resize(943, 468);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        deliver(&page, {QStringLiteral("10.77.1.7"), QStringLiteral("10.77.2.7")});
        QList<HostWidget *> tiles = page.tiles();
        QCOMPARE(tiles.size(), 2);
        QCOMPARE(tiles[0]->labelText(), tiles[1]->labelText());
        // The tool tip is the tile's whole address (shown on hover, see the page flow).
        QCOMPARE(tiles[0]->ip(), QStringLiteral("10.77.1.7"));
        QCOMPARE(tiles[1]->ip(), QStringLiteral("10.77.2.7"));
        QCOMPARE(tiles[0]->labelText(), QStringLiteral("7"));
    }

    void addressForms_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "192.168.1.20" << true;
        QTest::newRow("zeros") << "0.0.0.0" << true;
        QTest::newRow("top") << "255.255.255.255" << true;
        QTest::newRow("three parts") << "192.168.1" << false;
        QTest::newRow("five parts") << "1.2.3.4.5" << false;
        QTest::newRow("256") << "256.1.1.1" << false;
        QTest::newRow("300 last") << "1.1.1.300" << false;
        QTest::newRow("empty part") << "1..2.3" << false;
        QTest::newRow("trailing dot") << "1.2.3.4." << false;
        QTest::newRow("letters") << "a.b.c.d" << false;
        QTest::newRow("space") << "1.2.3. 4" << false;
        QTest::newRow("sign") << "-1.2.3.4" << false;
    }
    void addressForms() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        InputIpDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        auto *edit = child<QLineEdit>(&dialog, "edit_ip");
        auto *join = child<QPushButton>(&dialog, "btn_join");
        QVERIFY(!join->isEnabled());
        uitest::typeText(edit, typed);
        const bool taken = edit->text() == typed && join->isEnabled();
        QCOMPARE(taken, accepted);
        if (!accepted)
            return;
        QTest::mouseClick(join, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.ip(), typed);
    }

    void nicknameEmptyOrSpaces() {
        ZU_REQUIRE_TEST_NAMESPACE();
        MainWidget page;
        page.resize(943, 468);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        deliver(&page, {QStringLiteral("10.77.1.1")});
        QSignalSpy join(&page, &MainWidget::sigJoinShare);
        auto *nick = child<QLineEdit>(&page, "lineEdit_nickname");
        nick->clear();
        // The page's own scanner may replace the tiles at any time: each click takes a fresh one.
        auto tileNow = [&page] {
            deliver(&page, {QStringLiteral("10.77.1.1")});
            return QPointer<HostWidget>(page.tiles().first());
        };
        QString shown;
        UiScript script(20000);
        script.add("double-click without a nickname", [&] {
            UiScript::later([tile = tileNow()] {
                if (tile)
                    QTest::mouseDClick(tile, Qt::LeftButton);
            });
            return true;
        });
        script.add("refused with a message", [&] {
            MessageDialog *m = modal<MessageDialog>();
            if (!m)
                return false;
            shown = messageText(m);
            if (!join.isEmpty())
                script.fail("joined without a nickname");
            UiScript::later([m] { m->accept(); });
            return true;
        });
        script.add("a nickname of spaces", [&] {
            if (modal<MessageDialog>())
                return false;
            uitest::typeText(nick, QStringLiteral("  "));
            UiScript::later([tile = tileNow()] {
                if (tile)
                    QTest::mouseDClick(tile, Qt::LeftButton);
            });
            return true;
        });
        script.add("taken as it is", [&] {
            if (modal<MessageDialog>())
                script.fail("spaces refused");
            return join.size() == 1;
        });
        script.start();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished(), 30000);
        QVERIFY2(script.succeeded(), qPrintable(script.failure()));
        QVERIFY2(shown.contains(QStringLiteral("昵称能为空!")), qPrintable(shown));
        QCOMPARE(join.size(), 1);
        QCOMPARE(join[0][0].toString(), QStringLiteral("10.77.1.1"));
        QCOMPARE(join[0][1].toString(), QStringLiteral("  "));
    }

    // By address, to an address of the LAN where nobody answers: the loading dialog, then after the
    // join time-out the failure message, and the start page stays.
    void joinTimesOut() {
        ZU_REQUIRE_TEST_NAMESPACE();
        TestLan lan(2);
        QVERIFY2(lan.isUp(), qPrintable(lan.errorString()));
        TestLan::Enter in(lan, 1);
        QVERIFY(in.ok());
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 20000));
        auto *nick = child<QLineEdit>(window.startPage(), "lineEdit_nickname");
        nick->clear();
        uitest::typeText(nick, QStringLiteral("timeout"));
        QSignalSpy failed(window.watchPage(), &WatchWidget::sigJoinShareFail);
        // Both ends are taken where the program acts: the click starts the loading delay, and the
        // failure signal is the end of the join time-out.
        QElapsedTimer joining;
        qint64 failedAfterMs = -1;
        connect(window.watchPage(), &WatchWidget::sigJoinShareFail, this,
                [&] { failedAfterMs = joining.elapsed(); });
        QString shown;
        UiScript script(30000);
        script.add("address button", [&] {
            UiScript::later([&] {
                QTest::mouseClick(child<QPushButton>(window.startPage(), "btn_inputip_1"), Qt::LeftButton);
            });
            return true;
        });
        script.add("type an address nobody has", [&] {
            InputIpDialog *d = modal<InputIpDialog>();
            if (!d)
                return false;
            uitest::typeText(child<QLineEdit>(d, "edit_ip"), QStringLiteral("10.77.1.9"));
            UiScript::later([&, d] {
                joining.start();
                QTest::mouseClick(child<QPushButton>(d, "btn_join"), Qt::LeftButton);
            });
            return true;
        });
        script.add("loading", [&] { return modal<LoadingDialog>() == window.loadingDialog(); });
        script.add("failure message", [&] {
            MessageDialog *m = modal<MessageDialog>();
            if (!m)
                return false;
            shown = messageText(m);
            UiScript::later([m] { m->accept(); });
            return true;
        });
        script.add("back on the start page", [&] {
            return !modal<MessageDialog>() && window.currentPage() == window.startPage() &&
                   !window.loadingDialog()->isVisible();
        });
        script.start();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished(), 60000);
        QVERIFY2(script.succeeded(), qPrintable(script.failure()));
        QCOMPARE(failed.size(), 1);
        // The loading delay, then the whole join time-out; both are coarse timers, which may fire up
        // to 5% early.
        QVERIFY2(failedAfterMs >= (MainWindow::kLoadingDelayMs + WatchWidget::kJoinTimeoutMs) * 95 / 100,
                 qPrintable(QString::number(failedAfterMs)));
        QVERIFY2(
            shown.contains(QStringLiteral("加入共享失败，请 输入/选择 正确的ip地址，或检查您的网络环境！")),
            qPrintable(shown));
        QVERIFY(!window.watchPage()->sessionManager());
    }
};

QTEST_MAIN(TestStartPage)
#include "tst_startpage.moc"
