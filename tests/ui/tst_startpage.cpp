// Single cases of the start page, the address dialog, the main window and the source dialog, each
// on the real widgets under Xvfb. The start page's scanner broadcasts, so it runs only inside the
// test namespace.
#include "mainwindow.h"
#include "patternwindow.h"
#include "support/pinlibraries.h"
#include "support/testsupport.h"
#include "ui/appwindowwidget.h"
#include "ui/hostwidget.h"
#include "ui/inputipdialog.h"
#include "ui/mainwidget.h"
#include "ui/selectappwidget_line.h"
#include "ui/selecthost_line.h"
#include "ui/selectsourcedialog.h"
#include "uiscript.h"

// Xlib's macros clash with Qt names; it comes last.
#include <X11/Xlib.h>

using uitest::child;

namespace {

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

// The screen's colours just inside the window's edges and in its pages.
QList<QColor> onScreen(const QWidget *w) {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const int x2 = w->width() - 5, y2 = w->height() - 5, xm = w->width() / 2;
    QList<QColor> colours;
    for (QPoint p : {QPoint(4, 4), QPoint(x2, 4), QPoint(4, y2), QPoint(x2, y2), QPoint(4, w->height() / 2),
                     QPoint(xm, y2), QPoint(170, 300), QPoint(xm, 28)})
        colours << screen.pixelColor(w->mapToGlobal(p));
    return colours;
}

// A start page on the display; its scanner runs, so only in the test namespace.
std::unique_ptr<MainWidget> shownPage() {
    auto page = std::make_unique<MainWidget>();
    page->resize(943, 468);
    page->show();
    return QTest::qWaitForWindowExposed(page.get(), 20000) ? std::move(page) : nullptr;
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
        const QColor backdropColour(255, 0, 255);
        PatternWindow backdrop(QStringLiteral("背景"), backdropColour);
        backdrop.setGeometry(0, 0, 1200, 800);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop, 20000));
        MainWindow window;
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 20000));
        window.raise();
        auto looksOwn = [&](const QList<QColor> &colours) {
            return std::none_of(colours.begin(), colours.end(), [&](const QColor &c) {
                return colourNear(c, backdropColour) || colourNear(c, Qt::black);
            });
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
        auto unchanged = [&] {
            const QList<QColor> now = onScreen(&window);
            return std::equal(plain.begin(), plain.end(), now.begin(),
                              [](auto &a, auto &b) { return colourNear(a, b); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(unchanged(), 10000);
        QVERIFY(backdropSeen());
        compositor.terminate();
        QVERIFY(compositor.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!compositing(), 10000);
    }

    void tilesInRowsOfFour() {
        ZU_REQUIRE_TEST_NAMESPACE();
        auto page = shownPage();
        QVERIFY(page);
        const QList<QPair<int, QList<int>>> cases = {{4, {4}}, {5, {4, 1}}, {8, {4, 4}}, {0, {}}};
        for (const auto &c : cases) {
            QStringList hosts;
            for (int i = 1; i <= c.first; ++i)
                hosts << QStringLiteral("10.77.1.%1").arg(i);
            deliver(page.get(), hosts);
            QCOMPARE(rowSizes(page.get()), c.second);
            QCOMPARE(page->tiles().size(), c.first);
        }
        QVERIFY(child<QWidget>(page.get(), "widget_none_host")->isVisible());
        // Equal last numbers show the same label; the tool tip is the tile's whole address (shown on
        // hover, see the page flow).
        deliver(page.get(), {QStringLiteral("10.77.1.7"), QStringLiteral("10.77.2.7")});
        QStringList shown;
        for (HostWidget *tile : page->tiles())
            shown << tile->labelText() + " " + tile->ip();
        QCOMPARE(shown, QStringList({"7 10.77.1.7", "7 10.77.2.7"}));
    }

    void addressForms_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        for (const char *good : {"192.168.1.20", "0.0.0.0", "255.255.255.255"})
            QTest::newRow(good) << QString(good) << true;
        for (const char *bad : {"192.168.1", "1.2.3.4.5", "256.1.1.1", "1.1.1.300", "1..2.3", "1.2.3.4.",
                                "a.b.c.d", "1.2.3. 4", "-1.2.3.4"})
            QTest::newRow(bad) << QString(bad) << false;
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
        QCOMPARE(edit->text() == typed && join->isEnabled(), accepted);
        if (!accepted)
            return;
        QTest::mouseClick(join, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.ip(), typed);
    }
};

QTEST_MAIN(TestStartPage)
#include "tst_startpage.moc"
