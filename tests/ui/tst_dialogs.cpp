#include <QtTest>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>

#include "stylesheetwatch.h"
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

namespace {

template <typename T>
T *child(QWidget *w, const char *name) {
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qWarning("no child %s", name);
    return c;
}

QString labelText(QWidget *w, const char *name) {
    QLabel *l = child<QLabel>(w, name);
    return l ? l->text() : QStringLiteral("<missing>");
}

QString buttonText(QWidget *w, const char *name) {
    QPushButton *b = child<QPushButton>(w, name);
    return b ? b->text() : QStringLiteral("<missing>");
}

// Clicks a button of the dialog once its modal loop runs.
void clickWhenShown(QDialog *dialog, const char *name, int delayMs = 50) {
    QTimer::singleShot(delayMs, dialog, [dialog, name] {
        QTRY_VERIFY(dialog->isVisible());
        QPushButton *b = dialog->findChild<QPushButton *>(QString::fromLatin1(name));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
    });
}

template <typename T>
T *visibleTopLevel() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w); t && t->isVisible())
            return t;
    }
    return nullptr;
}

// Answers the transfer confirmation with the given button when it appears.
void answerConfirmation(const char *button, bool *seen, QString *okText) {
    QTimer::singleShot(50, [=] {
        RequestMessageDialog *ask = nullptr;
        QTRY_VERIFY((ask = visibleTopLevel<RequestMessageDialog>()) != nullptr);
        *seen = true;
        *okText = buttonText(ask, "btn_ok");
        QCOMPARE(labelText(ask, "label_msg"), QStringLiteral("退出将中断文件传输，是否退出？"));
        QTest::mouseClick(ask->findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
    });
}

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(stylesheetwatch::failures().loadAcquire(), 0);
    }
    void initTestCase() { stylesheetwatch::install(); }
    void titleWidget() {
        ZuTitleWidget title;
        QVERIFY(title.styleSheet().contains("rgb(89, 131, 165)"));
        QVERIFY(child<QLabel>(&title, "label_title")->styleSheet().contains(":/img/logo2.png"));
        auto *close = child<QPushButton>(&title, "closeButton");
        auto *max = child<QPushButton>(&title, "maxButton");
        auto *min = child<QPushButton>(&title, "minButton");
        QCOMPARE(title.titleObjects(), (QObjectList{close, max, min}));
        QVERIFY(close->styleSheet().contains(":/img/close_hover.png"));
        QVERIFY(min->styleSheet().contains(":/img/min_press.png"));
        QVERIFY(max->styleSheet().contains(":/img/max.png"));
        title.showRestoreIcon();
        QVERIFY(max->styleSheet().contains(":/img/normal.png"));
        QVERIFY(max->styleSheet().contains(":/img/normal_hover.png"));
        QVERIFY(max->styleSheet().contains(":/img/normal_press.png"));
        QVERIFY(!max->styleSheet().contains(":/img/max"));
        title.showMaximizeIcon();
        QVERIFY(max->styleSheet().contains(":/img/max_press.png"));

        QSignalSpy closed(&title, &ZuTitleWidget::sigCloseClicked);
        QSignalSpy maxed(&title, &ZuTitleWidget::sigMaxOrNornalClicked);
        QSignalSpy minimized(&title, &ZuTitleWidget::sigMinClicked);
        title.resize(600, 56);
        title.show();
        QVERIFY(QTest::qWaitForWindowExposed(&title, 20000));
        QTest::mouseClick(max, Qt::LeftButton);
        QCOMPARE(maxed.count(), 1);
        QTest::mouseClick(min, Qt::LeftButton);
        QCOMPARE(minimized.count(), 1);
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(closed.count(), 1);
        QCOMPARE(maxed.count() + minimized.count(), 2);
    }

    void inputIpExampleReadsAsAHint() {
        InputIpDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        auto *edit = child<QLineEdit>(&dialog, "edit_ip");
        QVERIFY(!edit->placeholderText().isEmpty());
        const QColor text = edit->palette().color(QPalette::Text);
        const QColor hint = edit->palette().color(QPalette::PlaceholderText);
        // Clearly lighter than typed text on the white field.
        QVERIFY2(hint.lightness() - text.lightness() > 80,
                 qPrintable(QStringLiteral("%1 %2").arg(text.name(), hint.name())));
    }

    void loadingDialog() {
        LoadingDialog dialog;
        QCOMPARE(dialog.size(), QSize(240, 180));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("ZuShare"));
        QCOMPARE(labelText(&dialog, "label_2"), QStringLiteral("努力加载中..."));
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(dialog.movie()->isValid());
        QVERIFY(dialog.movie()->frameCount() > 1);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        QCOMPARE(dialog.movie()->state(), QMovie::Running);
        QLabel *image = child<QLabel>(&dialog, "label");
        const int side = qMin(image->width(), image->height());
        QVERIFY(side > 60);
        QCOMPARE(dialog.movie()->scaledSize(), QSize(side, side));
        const int frame = dialog.movie()->currentFrameNumber();
        QTRY_VERIFY(dialog.movie()->currentFrameNumber() != frame);
        dialog.accept();
        QVERIFY(!dialog.isVisible());
    }

    void messageDialog() {
        MessageDialog dialog(QStringLiteral("创建共享失败，请检查5678端口！"));
        QCOMPARE(dialog.parent(), nullptr);
        QCOMPARE(labelText(&dialog, "label"), QStringLiteral("警告"));
        QCOMPARE(labelText(&dialog, "label_msg"), QStringLiteral("创建共享失败，请检查5678端口！"));
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("确认"));
        QVERIFY(child<QPushButton>(&dialog, "btn_close"));
        QCOMPARE(dialog.minimumSize(), QSize(320, 180));
        QVERIFY(child<QWidget>(&dialog, "widget")->styleSheet().contains("rgb(89, 131, 165)"));
        QVERIFY(child<QWidget>(&dialog, "widget_2")->styleSheet().contains("rgb(242, 244, 248)"));
        dialog.adjustSize();
        clickWhenShown(&dialog, "btn_ok");
        QCOMPARE(dialog.exec(), 1);
        clickWhenShown(&dialog, "btn_close");
        QCOMPARE(dialog.exec(), 0);
    }

    void quitShareDialog() {
        QuitShareDialog dialog;
        QCOMPARE(dialog.size(), QSize(280, 176));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(labelText(&dialog, "label"), QStringLiteral("确认退出？退出将结束此次共享"));
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("退出"));
        QCOMPARE(buttonText(&dialog, "btn_cancel"), QStringLiteral("取消"));
        clickWhenShown(&dialog, "btn_ok");
        QCOMPARE(dialog.exec(), 1);
        clickWhenShown(&dialog, "btn_cancel");
        QCOMPARE(dialog.exec(), 0);
        // The title close button keeps the share running.
        clickWhenShown(&dialog, "closeButton");
        QCOMPARE(dialog.exec(), 0);
    }

    void requestMessageDialog() {
        RequestMessageDialog dialog(QStringLiteral("question?"));
        QCOMPARE(dialog.minimumSize(), QSize(290, 177));
        QCOMPARE(labelText(&dialog, "label_msg"), QStringLiteral("question?"));
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("确认"));
        QCOMPARE(buttonText(&dialog, "btn_cancel"), QStringLiteral("取消"));
        dialog.setOkText(QStringLiteral("退出"));
        dialog.setCancelText(QStringLiteral("留下"));
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("退出"));
        QCOMPARE(buttonText(&dialog, "btn_cancel"), QStringLiteral("留下"));
        clickWhenShown(&dialog, "btn_ok");
        QCOMPARE(dialog.exec(), 1);
        clickWhenShown(&dialog, "btn_cancel");
        QCOMPARE(dialog.exec(), 0);
        clickWhenShown(&dialog, "btn_close");
        QCOMPARE(dialog.exec(), 0);
    }

    void requestShareScreenTexts() {
        RequestShareScreenDialog dialog;
        dialog.setName(QStringLiteral("小米手机"));
        QCOMPARE(labelText(&dialog, "label_msg"), QStringLiteral("小米手机 请求投屏，是否同意？"));
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("确定"));
        QCOMPARE(buttonText(&dialog, "btn_cancel"), QStringLiteral("取消"));
        clickWhenShown(&dialog, "btn_quit");
        QCOMPARE(dialog.exec(), 0);
    }

    void requestShareScreenRefusesByItself() {
        RequestShareScreenDialog dialog;
        dialog.setName(QStringLiteral("phone"));
        // An early answer leaves no refusal armed that could cut the next request short.
        clickWhenShown(&dialog, "btn_ok", 3000);
        QCOMPARE(dialog.exec(), 1);

        // A coarse timer may fire up to 5% early, so the refusal comes after 9025 ms at the soonest.
        bool stillAskingAt8s = false;
        QTimer::singleShot(8500, &dialog, [&] { stillAskingAt8s = dialog.isVisible(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dialog.exec(), 0);
        QVERIFY(stillAskingAt8s);
        QVERIFY2(clock.elapsed() >= 9000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!dialog.isVisible());
    }

    void singleTransferProgress() {
        SingleTransFileProgressDialog dialog;
        QCOMPARE(labelText(&dialog, "label"), QStringLiteral("发起文件传输"));
        QCOMPARE(labelText(&dialog, "label_progress"), QStringLiteral("0%"));
        QCOMPARE(child<QProgressBar>(&dialog, "progressBar")->value(), 0);
        QCOMPARE(child<QProgressBar>(&dialog, "progressBar")->format(), QStringLiteral("%p%"));
        QVERIFY(child<QLabel>(&dialog, "label_done")->isHidden());
        QCOMPARE(buttonText(&dialog, "btn_ok"), QStringLiteral("确定"));
        QCOMPARE(labelText(&dialog, "label_done"), QStringLiteral("已完成"));

        dialog.setProgress(99);
        QCOMPARE(labelText(&dialog, "label_progress"), QStringLiteral("99%"));
        QCOMPARE(child<QProgressBar>(&dialog, "progressBar")->value(), 99);
        QVERIFY(!child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        QVERIFY(child<QLabel>(&dialog, "label_done")->isHidden());
        dialog.setProgress(100);
        QCOMPARE(labelText(&dialog, "label_progress"), QStringLiteral("100%"));
        QVERIFY(child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        QVERIFY(!child<QLabel>(&dialog, "label_done")->isHidden());
        dialog.setProgress(3);
        QVERIFY(!child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        QVERIFY(child<QLabel>(&dialog, "label_done")->isHidden());
    }

    void closingIdleTransferDialogAcceptsAtOnce() {
        SingleTransFileProgressDialog dialog;
        clickWhenShown(&dialog, "btn_close");
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(!visibleTopLevel<RequestMessageDialog>());
    }

    void closingRunningTransferAsksFirst() {
        SingleTransFileProgressDialog dialog;
        dialog.setTransferRunning(true);
        dialog.setProgress(40);
        bool asked = false;
        QString okText;
        bool stayedAfterCancel = false;
        // First close: cancel in the confirmation, the transfer keeps going; second close: confirm.
        QTimer::singleShot(50, &dialog, [&] {
            answerConfirmation("btn_cancel", &asked, &okText);
            QTest::mouseClick(dialog.findChild<QPushButton *>("btn_close"), Qt::LeftButton);
            stayedAfterCancel = dialog.isVisible();
            QCOMPARE(dialog.result(), 0);
            answerConfirmation("btn_ok", &asked, &okText);
            QTest::mouseClick(dialog.findChild<QPushButton *>("btn_close"), Qt::LeftButton);
        });
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(asked);
        QVERIFY(stayedAfterCancel);
        QCOMPARE(okText, QStringLiteral("退出"));
    }

    void receiveDialog() {
        ReceiveFileDialog dialog;
        QCOMPARE(labelText(&dialog, "label"), QStringLiteral("主持人向你传输文件"));
        QVERIFY(!child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        QVERIFY(child<QLabel>(&dialog, "label_done")->isHidden());
        dialog.setProgress(99);
        QVERIFY(!child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        dialog.setProgress(100);
        QVERIFY(child<QPushButton>(&dialog, "btn_ok")->isEnabled());
        clickWhenShown(&dialog, "btn_ok");
        QCOMPARE(dialog.exec(), 1);
        // On an attendee nothing marks the transfer running: the close button ends it at once.
        dialog.setProgress(20);
        clickWhenShown(&dialog, "pushButton");
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(!visibleTopLevel<RequestMessageDialog>());
    }

    void multiTransferRows() {
        MultiTransFileProgressDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog, 20000));
        QCOMPARE(labelText(&dialog, "label_nickname"), QStringLiteral("昵称"));
        QCOMPARE(labelText(&dialog, "label_progress"), QStringLiteral("传输进度"));
        // The header is one band of its own colour, also behind its labels.
        QWidget *header = child<QWidget>(&dialog, "widget_3");
        const QImage band = header->grab().toImage();
        for (const char *name : {"label_nickname", "label_progress"}) {
            const QRect r = child<QLabel>(&dialog, name)->geometry();
            QCOMPARE(band.pixelColor(r.right() - 2, r.top() + 2), QColor("#E4E9EF"));
        }
        dialog.addMember("{a}", "alice");
        dialog.addMember("{a}", "alice again");
        const QString longName =
            QStringLiteral("a_really_long_nickname_that_cannot_fit_into_the_row_at_all_END");
        dialog.addMember("{b}", longName);
        QCOMPARE(dialog.memberCount(), 2);
        QCOMPARE(dialog.findChild<QListWidget *>("listWidget")->count(), 2);
        QCOMPARE(dialog.memberRow("{a}")->nickNameText(), QStringLiteral("alice"));
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("0%"));
        dialog.setMemberProgress("{a}", 57);
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("57%"));
        dialog.setMemberProgress("{zzz}", 57);
        dialog.setMemberState("{b}", QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{b}")->progressText(), QStringLiteral("文件传输中断"));
        QCOMPARE(dialog.memberRow("{a}")->progressText(), QStringLiteral("57%"));
        QTRY_VERIFY(dialog.memberRow("{b}")->nickNameText().contains(QChar(0x2026)));
        const QString shown = dialog.memberRow("{b}")->nickNameText();
        QVERIFY(shown.startsWith("a_re"));
        QVERIFY(shown.endsWith("END"));
        QVERIFY(shown.size() < longName.size());
    }

    void multiTransferCloseConfirmation() {
        MultiTransFileProgressDialog dialog;
        dialog.addMember("{a}", "alice");
        dialog.setTransferRunning(true);
        bool asked = false;
        QString okText;
        bool stayed = false;
        QTimer::singleShot(50, &dialog, [&] {
            answerConfirmation("btn_close", &asked, &okText);
            QTest::mouseClick(dialog.findChild<QPushButton *>("btn_close"), Qt::LeftButton);
            stayed = dialog.isVisible();
            dialog.setTransferRunning(false);
            QTest::mouseClick(dialog.findChild<QPushButton *>("btn_close"), Qt::LeftButton);
        });
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(asked);
        QVERIFY(stayed);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
