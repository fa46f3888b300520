#include "support/pinlibraries.h"
#include "ui/inputipdialog.h"
#include "ui/loadingdialog.h"
#include "ui/messagedialog.h"
#include "ui/multitransfileprogressdialog.h"
#include "ui/quitsharedialog.h"
#include "ui/receivefiledialog.h"
#include "ui/requestmessagedialog.h"
#include "ui/requestsharescreendialog.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/transferprogressitem.h"
#include "ui/zutitlewidget.h"
#include "uiscript.h"

using uitest::child;

namespace {

// Clicks a button of the dialog once its modal loop runs.
void clickWhenShown(QDialog *dialog, const QString &name, int delayMs = 50) {
    QTimer::singleShot(delayMs, dialog, [dialog, name] {
        QTRY_VERIFY(dialog->isVisible());
        if (auto *button = dialog->findChild<QPushButton *>(name))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            dialog->done(-1);  // no such button: the exec() that waits for it fails
    });
}

std::unique_ptr<QDialog> makeDialog(const QString &kind) {
    if (kind == "message")
        return std::make_unique<MessageDialog>(QStringLiteral("创建共享失败，请检查5678端口！"));
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

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { uitest::watchStyleSheets(); }
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(uitest::styleSheetFailures.loadAcquire(), 0);
    }

    void titleButtons() {
        ZuTitleWidget title;
        auto *close = child<QPushButton>(&title, "closeButton");
        auto *max = child<QPushButton>(&title, "maxButton");
        auto *min = child<QPushButton>(&title, "minButton");
        QCOMPARE(title.titleObjects(), (QObjectList{close, max, min}));
        QStringList clicked;
        connect(&title, &ZuTitleWidget::sigMaxOrNornalClicked, [&] { clicked << "max"; });
        connect(&title, &ZuTitleWidget::sigMinClicked, [&] { clicked << "min"; });
        connect(&title, &ZuTitleWidget::sigCloseClicked, [&] { clicked << "close"; });
        title.show();
        QVERIFY(QTest::qWaitForWindowExposed(&title, 20000));
        for (QPushButton *b : {max, min, close})
            QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(clicked, QStringList({"max", "min", "close"}));
    }

    // Fault found earlier: the address example read as typed text.
    void inputIpExampleReadsAsAHint() {
        InputIpDialog dialog;
        auto *edit = child<QLineEdit>(&dialog, "edit_ip");
        QVERIFY(!edit->placeholderText().isEmpty());
        const QColor text = edit->palette().color(QPalette::Text);
        const QColor hint = edit->palette().color(QPalette::PlaceholderText);
        QVERIFY2(hint.lightness() - text.lightness() > 80, qPrintable(text.name() + " " + hint.name()));
    }

    void loadingAnimationRuns() {
        LoadingDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        QCOMPARE(dialog.movie()->state(), QMovie::Running);
        const QLabel *image = child<QLabel>(&dialog, "label");
        const int side = qMin(image->width(), image->height());
        QVERIFY(side > 60);
        QCOMPARE(dialog.movie()->scaledSize(), QSize(side, side));
        const int frame = dialog.movie()->currentFrameNumber();
        QTRY_VERIFY(dialog.movie()->currentFrameNumber() != frame);
    }

    // Which answer each button of a dialog gives; the title close button never confirms.
    void buttonAnswers_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        for (const auto &[kind, button, result] :
             std::initializer_list<std::tuple<const char *, const char *, int>>{
                 {"message", "btn_ok", 1},
                 {"message", "btn_close", 0},
                 {"quit", "btn_ok", 1},
                 {"quit", "btn_cancel", 0},
                 {"quit", "closeButton", 0},
                 {"request", "btn_ok", 1},
                 {"request", "btn_cancel", 0},
                 {"request", "btn_close", 0},
                 // Idle transfers, and the attendee's (never marked running), close at once.
                 {"single", "btn_close", 1},
                 {"multi", "btn_close", 1},
                 {"receive", "pushButton", 1}})
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
        QVERIFY(stillAsking);
        QVERIFY2(clock.elapsed() >= soonest, qPrintable(QString::number(clock.elapsed())));
    }

    void okOnlyWhenDone_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("send") << "single";
        QTest::newRow("receive") << "receive";
    }
    void okOnlyWhenDone() {
        QFETCH(QString, kind);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        auto *d = static_cast<FileProgressDialog *>(dialog.get());
        auto *ok = child<QPushButton>(d, "btn_ok");
        auto *done = child<QLabel>(d, "label_done");
        for (int p : {99, 100, 3}) {
            d->setProgress(p);
            QCOMPARE(ok->isEnabled(), p == 100);
            QCOMPARE(done->isHidden(), p != 100);
        }
        if (kind == "single")
            QCOMPARE(child<QLabel>(d, "label_progress")->text(), QStringLiteral("3%"));
        d->setProgress(100);
        clickWhenShown(d, "btn_ok");
        QCOMPARE(d->exec(), 1);
    }

    // Closing a running transfer asks first; a refusal (either button) keeps the dialog and the
    // transfer, a confirmation closes it.
    void closingRunningTransferAsksFirst_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("refuse");
        for (const char *kind : {"single", "multi"}) {
            for (const char *refuse : {"btn_cancel", "btn_close"})
                QTest::addRow("%s %s", kind, refuse) << kind << refuse;
        }
    }
    void closingRunningTransferAsksFirst() {
        QFETCH(QString, kind);
        QFETCH(QString, refuse);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        if (auto *multi = qobject_cast<MultiTransFileProgressDialog *>(dialog.get()))
            multi->setTransferRunning(true);
        else
            static_cast<FileProgressDialog *>(dialog.get())->setTransferRunning(true);
        auto *close = child<QPushButton>(dialog.get(), "btn_close");
        QStringList answered;
        bool stayed = false;
        auto answer = [&](const QString &button) {
            QTimer::singleShot(50, [&, button] {
                RequestMessageDialog *ask = nullptr;
                QTRY_VERIFY((ask = uitest::visible<RequestMessageDialog>()) != nullptr);
                answered << child<QPushButton>(ask, "btn_ok")->text();
                QTest::mouseClick(child<QPushButton>(ask, qPrintable(button)), Qt::LeftButton);
            });
        };
        QTimer::singleShot(50, dialog.get(), [&] {
            answer(refuse);
            QTest::mouseClick(close, Qt::LeftButton);
            stayed = dialog->isVisible() && dialog->result() == 0;
            answer("btn_ok");
            QTest::mouseClick(close, Qt::LeftButton);
        });
        QCOMPARE(dialog->exec(), 1);
        QVERIFY(stayed);
        QCOMPARE(answered, QStringList({"退出", "退出"}));
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
        dialog.addMember("{a}", "alice");
        dialog.addMember("{a}", "alice again");
        const QString longName =
            QStringLiteral("a_really_long_nickname_that_cannot_fit_into_the_row_at_all_END");
        dialog.addMember("{b}", longName);
        QCOMPARE(dialog.memberCount(), 2);
        QCOMPARE(dialog.memberRow("{a}")->nickNameText(), QStringLiteral("alice"));
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("0%"));
        dialog.setMemberProgress("{a}", 57);
        dialog.setMemberProgress("{zzz}", 57);
        dialog.setMemberState("{b}", QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{b}")->progressText(), QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("57%"));
        // Elided in the middle: both ends of the name stay readable.
        QTRY_VERIFY(dialog.memberRow("{b}")->nickNameText().contains(QChar(0x2026)));
        const QString shown = dialog.memberRow("{b}")->nickNameText();
        QVERIFY(shown.startsWith("a_re") && shown.endsWith("END") && shown.size() < longName.size());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
