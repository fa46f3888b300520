// Renders every dialog and window of the interface kit to PNG files for the user's guide:
// <build>/screenshots/ui/, or the folder named by ZU_SCREENSHOT_DIR (see scripts/screenshots.sh).
// Built on QtTest for its event loop and its reports, but not one of the tests.
#include <QtTest>

#include <QDirIterator>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/createsharebutton.h"
#include "ui/inputipdialog.h"
#include "ui/loadingdialog.h"
#include "ui/memberlistwidget.h"
#include "ui/messagedialog.h"
#include "ui/mobilephonescreenwidget.h"
#include "ui/multitransfileprogressdialog.h"
#include "ui/quitsharedialog.h"
#include "ui/receivefiledialog.h"
#include "ui/requestmessagedialog.h"
#include "ui/requestsharescreendialog.h"
#include "ui/singletransfileprogressdialog.h"
#include "ui/uilanguage.h"
#include "ui/zutitlewidget.h"
#include "video/argbframe.h"
#include "video/videowidgetinterface.h"

namespace {

SignalingUser user(const QString &id, const QString &nick, int type = 0) {
    SignalingUser u;
    u.id = id;
    u.nickname = nick;
    u.devicetype = type;
    return u;
}

}  // namespace

class UiScreenshots : public QObject {
    Q_OBJECT

private:
    QDir dir_;

    void shoot(QWidget *w, const QString &name) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w, 20000));
        QTest::qWait(150);
        const QPixmap pixmap = w->grab();
        QVERIFY(!pixmap.isNull());
        QVERIFY(pixmap.save(dir_.filePath(name + ".png")));
        w->hide();
    }

private slots:
    void initTestCase() {
        QString path = qEnvironmentVariable("ZU_SCREENSHOT_DIR");
        if (path.isEmpty())
            path = QStringLiteral(ZU_SCREENSHOT_DEFAULT_DIR);
        QVERIFY(QDir().mkpath(path));
        dir_ = QDir(path);
        UiLanguage::Language language = UiLanguage::Language::Chinese;
        UiLanguage::fromCode(qEnvironmentVariable("ZU_SCREENSHOT_LANGUAGE"), &language);
        UiLanguage::apply(language);
    }

    void titleBar() {
        QWidget frame;
        frame.setFixedSize(943, 56);
        auto *layout = new QVBoxLayout(&frame);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *title = new ZuTitleWidget(&frame);
        layout->addWidget(title);
        shoot(&frame, "title_bar");
        title->showRestoreIcon();
        shoot(&frame, "title_bar_maximized");
    }

    void smallDialogs() {
        LoadingDialog loading;
        shoot(&loading, "loading_dialog");
        MessageDialog message(QCoreApplication::translate(
            "MainWindow", "加入共享失败，请 输入/选择 正确的ip地址，或检查您的网络环境！"));
        message.adjustSize();
        shoot(&message, "message_dialog");
        QuitShareDialog quit;
        shoot(&quit, "quit_share_dialog");
        RequestMessageDialog request(
            QCoreApplication::translate("DialogChrome", "退出将中断文件传输，是否退出？"));
        request.setOkText(QCoreApplication::translate("DialogChrome", "退出"));
        request.adjustSize();
        shoot(&request, "request_message_dialog");
        InputIpDialog address;
        shoot(&address, "input_ip_dialog");
        RequestShareScreenDialog share;
        share.setName(QStringLiteral("小明的手机"));
        share.adjustSize();
        shoot(&share, "request_share_screen_dialog");
    }

    // The start page's create button, and its larger look under the pointer.
    void createShareButton() {
        QWidget frame;
        frame.setFixedSize(200, 64);
        frame.setStyleSheet(QStringLiteral("background: white;"));
        auto *button = new CreateShareButton(&frame);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame, 20000));
        // Whatever the pointer is over.
        for (const QEvent::Type type : {QEvent::Leave, QEvent::Enter}) {
            QEvent event(type);
            QApplication::sendEvent(button, &event);
            shoot(&frame, type == QEvent::Leave ? "create_share_button" : "create_share_button_large");
        }
    }

    void transferDialogs() {
        SingleTransFileProgressDialog single;
        single.setProgress(46);
        shoot(&single, "single_transfer_running");
        single.setProgress(100);
        shoot(&single, "single_transfer_done");
        ReceiveFileDialog receive;
        receive.setProgress(73);
        shoot(&receive, "receive_file_dialog");
        MultiTransFileProgressDialog multi;
        multi.addMember("{1}", QStringLiteral("小明"));
        multi.addMember("{2}", QStringLiteral("design-team-laptop-in-the-meeting-room-3"));
        multi.addMember("{3}", QStringLiteral("王老师的电脑"));
        multi.setMemberProgress("{1}", 100);
        multi.setMemberProgress("{2}", 38);
        multi.setMemberState("{3}", QCoreApplication::translate("FileTransferor", "文件传输中断"));
        shoot(&multi, "multi_transfer_dialog");
    }

    void memberList() {
        QWidget frame;
        frame.setFixedSize(160, 424);
        frame.setStyleSheet(QStringLiteral("background: #F2F4F8;"));
        auto *layout = new QVBoxLayout(&frame);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *list = new MemberListWidget(&frame);
        list->setHostMode(true);
        layout->addWidget(list);
        list->onAlluserRefreshed({});
        shoot(&frame, "member_list_empty");
        list->onAlluserRefreshed({user("{1}", QStringLiteral("小明")),
                                  user("{2}", QStringLiteral("小红的手机"), 1),
                                  user("{3}", QStringLiteral("meeting-room-pc"))});
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame, 20000));
        list->findChild<QListWidget *>("userlistWidget")->setCurrentRow(2);
        shoot(&frame, "member_list");
    }

    void mobileScreen() {
        MobilePhoneScreenWidget window;
        window.setName(QStringLiteral("小红的手机"));
        auto frame = ARGBFrame::create(360, 720);
        QVERIFY(frame);
        // A stand-in phone screen: status bar, a blue header and a few content cards.
        QImage picture(frame->data(), 360, 720, int(frame->stride()), QImage::Format_ARGB32);
        QPainter p(&picture);
        p.fillRect(picture.rect(), QColor(0xF4, 0xF6, 0xF9));
        p.fillRect(QRect(0, 0, 360, 140), QColor(0x59, 0x83, 0xA5));
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 4; ++i)
            p.drawRoundedRect(QRect(20, 170 + i * 130, 320, 110), 12, 12);
        p.end();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 20000));
        std::shared_ptr<VideoFrameInterface> held = frame;
        QTRY_VERIFY(window.videoWidget()->renderFrame(held));
        // 400 wide at the picture's 1:2 plus the 40-pixel title, unless the screen is lower.
        QTRY_COMPARE(window.height(), qMin(840, window.screen()->availableGeometry().height()));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&window, &enter);
        shoot(&window, "mobile_screen_window");
    }

    void pictureSheet() {
        QStringList names;
        QDirIterator it(QStringLiteral(":/img"));
        while (it.hasNext())
            names.append(it.next());
        names.sort();
        QVERIFY(names.size() >= 40);
        const int cell = 150, cols = 6;
        QImage sheet(cols * cell, int((names.size() + cols - 1) / cols) * cell, QImage::Format_ARGB32);
        sheet.fill(QColor(0xFF, 0xFF, 0xFF));
        QPainter p(&sheet);
        const QFont sheetFont = p.font();
        for (int i = 0; i < names.size(); ++i) {
            const QRect r((i % cols) * cell, (i / cols) * cell, cell, cell);
            // Light pictures are drawn for the blue title bar or the dark page: show them on that.
            const QString n = names[i].mid(6);
            QColor ground(0xE9, 0xED, 0xF2);
            if (n.startsWith("min") || n.startsWith("max") || n.startsWith("normal") ||
                n.startsWith("close") || n.startsWith("logo2"))
                ground = QColor(0x59, 0x83, 0xA5);
            else if (n.startsWith("fold") || n.startsWith("open") || n.startsWith("full_") ||
                     n.startsWith("narrow_"))
                ground = QColor(0x3B, 0x3B, 0x40);
            p.fillRect(r.adjusted(4, 4, -4, -24), ground);
            QImage img(names[i]);
            QVERIFY2(!img.isNull(), qPrintable(names[i]));
            const QSize fit = img.size().scaled(r.adjusted(10, 10, -10, -30).size(), Qt::KeepAspectRatio);
            const QSize shown = img.width() > fit.width() ? fit : img.size();
            p.drawImage(QRect(r.center().x() - shown.width() / 2,
                              r.top() + (cell - 20) / 2 - shown.height() / 2, shown.width(), shown.height()),
                        img);
            p.setPen(QColor(0x33, 0x38, 0x40));
            // A long name is set smaller rather than run into its neighbours.
            QFont font = sheetFont;
            while (QFontMetrics(font).horizontalAdvance(n) > cell - 8)
                font.setPointSizeF(font.pointSizeF() - 0.5);
            p.setFont(font);
            p.drawText(QRect(r.left(), r.bottom() - 22, cell, 20), Qt::AlignCenter, n);
        }
        p.end();
        QVERIFY(sheet.save(dir_.filePath("pictures.png")));
    }
};

QTEST_MAIN(UiScreenshots)
#include "uiscreenshots.moc"
