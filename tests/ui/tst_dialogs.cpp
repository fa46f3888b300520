// The dialogs and the start page's tiles on the real widgets, and the language they speak.
#include "support/pinlibraries.h"
#include "support/testsupport.h"
#include "ui/admitmemberdialog.h"
#include "ui/hostwidget.h"
#include "ui/inputipdialog.h"
#include "ui/loadingdialog.h"
#include "ui/mainwidget.h"
#include "ui/messagedialog.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/multitransfileprogressdialog.h"
#include "ui/quitsharedialog.h"
#include "ui/receivefiledialog.h"
#include "ui/requestmessagedialog.h"
#include "ui/requestsharescreendialog.h"
#include "ui/selecthost_line.h"
#include "ui/selectsourcedialog.h"
#include "ui/sharewidget.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/transferprogressitem.h"
#include "ui/uilanguage.h"
#include "ui/watchwidget.h"
#include "ui/zutitlewidget.h"
#include "uiscript.h"

using uitest::child;

class TestDialogs : public QObject {
    Q_OBJECT

    // Clicks a button of the dialog once its modal loop runs; without such a button the exec() fails.
    static void clickWhenShown(QDialog *dialog, const QString &name, int delayMs = 50) {
        QTimer::singleShot(delayMs, dialog, [dialog, name] {
            QTRY_VERIFY(dialog->isVisible());
            if (auto *button = dialog->findChild<QPushButton *>(name))
                QTest::mouseClick(button, Qt::LeftButton);
            else
                dialog->done(-1);
        });
    }

    static std::unique_ptr<QDialog> makeDialog(const QString &kind) {
        if (kind == "message")
            return std::make_unique<MessageDialog>(
                QCoreApplication::translate("MainWindow", "创建共享失败，请检查5678端口！"));
        if (kind == "quit")
            return std::make_unique<QuitShareDialog>();
        if (kind == "request")
            return std::make_unique<RequestMessageDialog>(QStringLiteral("question?"));
        if (kind == "single")
            return std::make_unique<SingleTransFileProgressDialog>();
        if (kind == "multi")
            return std::make_unique<MultiTransFileProgressDialog>();
        return std::make_unique<ReceiveFileDialog>();
    }

    // The pages, the title bar and every dialog, in the language applied.
    static std::vector<std::unique_ptr<QWidget>> everyWindow() {
        std::vector<std::unique_ptr<QWidget>> windows;
        windows.push_back(std::make_unique<MainWidget>());
        windows.push_back(std::make_unique<ShareWidget>());
        windows.push_back(std::make_unique<WatchWidget>());
        windows.push_back(std::make_unique<ZuTitleWidget>());
        windows.push_back(std::make_unique<SelectSourceDialog>());
        windows.push_back(std::make_unique<MobilePhoneScreenWidget>());
        for (const QString kind : {"message", "quit", "request", "single", "multi", "receive"})
            windows.push_back(makeDialog(kind));
        windows.push_back(std::make_unique<InputIpDialog>());
        windows.push_back(std::make_unique<LoadingDialog>());
        windows.push_back(std::make_unique<RequestShareScreenDialog>());
        windows.push_back(
            std::make_unique<AdmitMemberDialog>(AdmissionQueue::Member{"{a}", "ann", "10.77.0.2"}));
        return windows;
    }

private slots:
    void initTestCase() { uitest::watchStyleSheets(); }
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(uitest::styleSheetFailures.loadAcquire(), 0);
    }

    // Fault found earlier: the address example read as typed text.
    void inputIpExampleReadsAsAHint() {
        InputIpDialog dialog;
        auto *edit = child<QLineEdit>(&dialog, "edit_ip");
        const QPalette &p = edit->palette();
        QVERIFY(!edit->placeholderText().isEmpty());
        QVERIFY(p.color(QPalette::PlaceholderText).lightness() - p.color(QPalette::Text).lightness() > 80);
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
        if (accepted) {
            QTest::mouseClick(join, Qt::LeftButton);
            QVERIFY(dialog.result() == QDialog::Accepted && dialog.ip() == typed);
        }
    }
    // Which answer each button gives (the quit dialog's own buttons: see the page flow); the title close
    // button never confirms. Idle transfers, and the attendee's (never marked running), close at once.
    void buttonAnswers_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        const std::tuple<const char *, const char *, int> rows[] = {
            {"message", "btn_ok", 1},   {"message", "btn_close", 0},  {"quit", "closeButton", 0},
            {"request", "btn_ok", 1},   {"request", "btn_cancel", 0}, {"request", "btn_close", 0},
            {"single", "btn_close", 1}, {"multi", "btn_close", 1},    {"receive", "pushButton", 1}};
        for (const auto &[kind, button, result] : rows)
            QTest::addRow("%s %s", kind, button) << kind << button << result;
    }
    void buttonAnswers() {
        QFETCH(QString, kind);
        QFETCH(QString, button);
        QFETCH(int, result);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        if (auto *f = qobject_cast<FileProgressDialog *>(dialog.get()))
            f->setProgress(20);
        clickWhenShown(dialog.get(), button);
        QCOMPARE(dialog->exec(), result);
        QVERIFY(!uitest::visible<RequestMessageDialog>());
    }

    // Fault found earlier: an early answer left a refusal armed that cut the next request short.
    void requestShareScreenRefusesByItself() {
        RequestShareScreenDialog dialog;
        dialog.setName(QStringLiteral("小米手机"));
        QVERIFY(child<QLabel>(&dialog, "label_msg")->text().startsWith(QStringLiteral("小米手机 ")));
        clickWhenShown(&dialog, "btn_ok", 1500);
        QCOMPARE(dialog.exec(), 1);
        const int soonest = RequestShareScreenDialog::kAutoRefuseMs * 95 / 100;  // coarse timers
        bool stillAsking = false;
        QTimer::singleShot(soonest - 500, &dialog, [&] { stillAsking = dialog.isVisible(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dialog.exec(), 0);
        QVERIFY2(stillAsking && clock.elapsed() >= soonest, qPrintable(QString::number(clock.elapsed())));
    }

    void okOnlyWhenDone() {
        for (const char *kind : {"single", "receive"}) {
            std::unique_ptr<QDialog> dialog = makeDialog(kind);
            auto *d = static_cast<FileProgressDialog *>(dialog.get());
            for (int p : {99, 100, 3, 100}) {
                d->setProgress(p);
                QCOMPARE(child<QPushButton>(d, "btn_ok")->isEnabled(), p == 100);
                QCOMPARE(child<QLabel>(d, "label_done")->isHidden(), p != 100);
            }
        }
    }

    // Closing a running transfer asks first, over the dialog: a refusal (either button) keeps it, a
    // confirmation closes it, and a transfer that ends while the question is up takes the question along.
    void closingRunningTransferAsksFirst() {
        for (const auto &row : {std::pair("single", "btn_cancel"), std::pair("multi", "btn_close")}) {
            std::unique_ptr<QDialog> dialog = makeDialog(row.first);
            if (auto *multi = qobject_cast<MultiTransFileProgressDialog *>(dialog.get()))
                multi->setTransferRunning(true);
            else
                static_cast<FileProgressDialog *>(dialog.get())->setTransferRunning(true);
            auto *close = child<QPushButton>(dialog.get(), "btn_close");
            QSignalSpy finished(dialog.get(), &QDialog::finished);
            const char *answers[] = {row.second, "btn_ok", nullptr};
            for (int i = 0; i < 3; ++i) {
                if (!dialog->isVisible())
                    dialog->open();
                QTest::mouseClick(close, Qt::LeftButton);
                QTRY_VERIFY(uitest::modal<RequestMessageDialog>());
                if (answers[i])
                    QVERIFY(uitest::answer<RequestMessageDialog>(answers[i]));
                else
                    dialog->accept();
                QTRY_VERIFY(!uitest::modal<RequestMessageDialog>());
                QVERIFY2(finished.size() == i && dialog->isVisible() == (i == 0), row.first);
            }
            QCOMPARE(finished.first(), QVariantList({1}));
        }
    }

    void multiTransferRows() {
        MultiTransFileProgressDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        // Fault found earlier: the header's labels had a colour of their own over the band's.
        const QImage band = child<QWidget>(&dialog, "widget_3")->grab().toImage();
        for (const char *name : {"label_nickname", "label_progress"}) {
            const QRect r = child<QLabel>(&dialog, name)->geometry();
            QCOMPARE(band.pixelColor(r.right() - 2, r.top() + 2), band.pixelColor(band.width() - 2, 2));
        }
        const QString longName = "a_really" + QString(50, '_') + "END";
        dialog.addMember("{a}", "alice");
        dialog.addMember("{a}", "alice again");
        dialog.addMember("{b}", longName);
        QCOMPARE(dialog.memberCount(), 2);
        QCOMPARE(dialog.memberRow("{a}")->nickNameText(), QStringLiteral("alice"));
        dialog.setMemberProgress("{a}", 57);
        dialog.setMemberProgress("{zzz}", 57);
        dialog.setMemberState("{b}", QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{b}")->progressText(), QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("57%"));
        // Elided in the middle: both ends of the name stay readable.
        auto shown = [&] { return dialog.memberRow("{b}")->nickNameText(); };
        QTRY_VERIFY(shown().contains(QChar(0x2026)) && shown().startsWith("a_re") && shown().endsWith("END"));
    }

    // Tiles as the scanner would deliver them, through the page's own slot.
    void tilesInRowsOfFour() {
        ZU_REQUIRE_TEST_NAMESPACE();  // the page's scanner broadcasts
        MainWidget page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page, 20000));
        auto deliver = [&](const QStringList &hosts) {
            QMetaObject::invokeMethod(&page, "onHostListRefreshed", Q_ARG(QStringList, hosts));
        };
        for (const auto &[count, rows] :
             QList<QPair<int, QList<int>>>{{4, {4}}, {5, {4, 1}}, {8, {4, 4}}, {0, {}}}) {
            QStringList hosts;
            for (int i = 1; i <= count; ++i)
                hosts << QStringLiteral("10.77.1.%1").arg(i);
            deliver(hosts);
            QList<int> sizes;
            for (SelectHost_Line *row : page.rows())
                sizes << row->hostCount();
            QCOMPARE(sizes, rows);
        }
        QVERIFY(child<QWidget>(&page, "widget_none_host")->isVisible());
        // Equal last numbers show the same label; the tool tip is the whole address (see the page flow).
        deliver({QStringLiteral("10.77.1.7"), QStringLiteral("10.77.2.7")});
        QStringList shown;
        for (HostWidget *tile : page.tiles())
            shown << tile->labelText() + " " + tile->ip();
        QCOMPARE(shown, QStringList({"7 10.77.1.7", "7 10.77.2.7"}));
    }

    void choosesLanguage_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("preferred");
        QTest::addColumn<bool>("english");
        QTest::newRow("Chinese desktop") << "" << QStringList{"zh-CN", "zh"} << false;
        QTest::newRow("Taiwanese desktop") << "" << QStringList{"zh-Hant-TW"} << false;
        QTest::newRow("English desktop") << "" << QStringList{"en-GB"} << true;
        QTest::newRow("neither") << "" << QStringList{"de-DE", "fr"} << true;
        QTest::newRow("C locale") << "" << QStringList{"C"} << true;
        QTest::newRow("nothing") << "" << QStringList{} << true;
        QTest::newRow("Chinese second") << "" << QStringList{"fr-FR", "zh_CN.UTF-8"} << false;
        QTest::newRow("setting en") << "en" << QStringList{"zh-CN"} << true;
        QTest::newRow("setting zh") << "zh" << QStringList{"en-US"} << false;
        QTest::newRow("unknown setting") << "klingon" << QStringList{"zh-CN"} << false;
    }
    void choosesLanguage() {
        QFETCH(QString, setting);
        QFETCH(QStringList, preferred);
        QFETCH(bool, english);
        QCOMPARE(UiLanguage::choose(setting, preferred) == UiLanguage::Language::English, english);
    }

    // Every text a person reads on the pages, the window's title bar and the dialogs.
    void speaksTheLanguage_data() {
        QTest::addColumn<bool>("english");
        QTest::newRow("English") << true;
        QTest::newRow("Chinese") << false;
    }
    void speaksTheLanguage() {
        QFETCH(bool, english);
        UiLanguage::apply(english ? UiLanguage::Language::English : UiLanguage::Language::Chinese);
        const auto restore = qScopeGuard([] { UiLanguage::apply(UiLanguage::Language::Chinese); });
        const std::vector<std::unique_ptr<QWidget>> windows = everyWindow();
        QStringList texts;
        for (const auto &window : windows) {
            QList<QWidget *> widgets = window->findChildren<QWidget *>();
            widgets << window.get();
            for (const QWidget *w : widgets) {
                texts << w->toolTip() << w->windowTitle();
                if (auto *label = qobject_cast<const QLabel *>(w))
                    texts << label->text();
                if (auto *button = qobject_cast<const QAbstractButton *>(w))
                    texts << button->text();
            }
        }
        texts.removeAll(QString());
        texts.removeDuplicates();
        QStringList chinese;
        std::copy_if(texts.begin(), texts.end(), std::back_inserter(chinese),
                     [](const QString &t) { return t.contains(QRegularExpression("\\p{Han}")); });
        if (english) {
            QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(" | ")));
            QVERIFY2(texts.size() > 40, qPrintable(texts.join(" | ")));
        } else {
            for (const char *text :
                 {"设备列表", "创建分享", "退出共享", "批量传输", "切换共享", "文件路径",
                  "确认退出？退出将结束此次共享", "主持人向你传输文件", "有人想观看", "手动输入"})
                QVERIFY2(texts.contains(QString::fromUtf8(text)), text);
        }
    }

    // Fault found earlier: English texts filled or overran buttons of a fixed width.
    void textsFitTheirButtons_data() { speaksTheLanguage_data(); }
    void textsFitTheirButtons() {
        QFETCH(bool, english);
        UiLanguage::apply(english ? UiLanguage::Language::English : UiLanguage::Language::Chinese);
        const auto restore = qScopeGuard([] { UiLanguage::apply(UiLanguage::Language::Chinese); });
        const std::vector<std::unique_ptr<QWidget>> windows = everyWindow();
        int buttons = 0;
        for (const auto &window : windows) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get(), 20000));
            for (const QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
                if (b->text().isEmpty() || !b->isVisibleTo(window.get()))
                    continue;
                const int text = b->fontMetrics().horizontalAdvance(b->text());
                const int room = qobject_cast<const QCheckBox *>(b) ? b->sizeHint().width() : text + 16;
                QVERIFY2(b->width() >= room, qPrintable(QStringLiteral("%1 \"%2\": %3 wide, needs %4")
                                                            .arg(b->objectName(), b->text())
                                                            .arg(b->width())
                                                            .arg(room)));
                ++buttons;
            }
            window->hide();
        }
        QVERIFY(buttons > 15);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
