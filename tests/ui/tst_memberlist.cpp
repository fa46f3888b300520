#include <QtTest>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QWebSocket>
#include <QWebSocketServer>

#include "signaling/signalingclient.h"
#include "stylesheetwatch.h"
#include "support/pinlibraries.h"
#include "support/testsupport.h"
#include "ui/memberitemwidget.h"
#include "ui/memberlistwidget.h"

namespace {

SignalingUser user(const QString &id, const QString &nick, int type = 0) {
    SignalingUser u;
    u.id = id;
    u.nickname = nick;
    u.devicetype = type;
    return u;
}

QListWidget *rows(MemberListWidget &list) {
    return list.findChild<QListWidget *>("userlistWidget");
}

MemberItemWidget *rowAt(MemberListWidget &list, int i) {
    QListWidget *l = rows(list);
    return qobject_cast<MemberItemWidget *>(l->itemWidget(l->item(i)));
}

QString countText(MemberListWidget &list) {
    return list.findChild<QLabel *>("label_mem_num")->text();
}

bool emptyStateShown(MemberListWidget &list) {
    for (const char *name : {"widget_img", "widget_empty", "label_msg"}) {
        if (list.findChild<QWidget *>(name)->isHidden())
            return false;
    }
    return true;
}

bool emptyStateHidden(MemberListWidget &list) {
    for (const char *name : {"widget_img", "widget_empty", "label_msg"}) {
        if (!list.findChild<QWidget *>(name)->isHidden())
            return false;
    }
    return true;
}

// Opens the member menu on a row and picks the action with the given text (empty: expect no menu).
bool pickFromMenu(MemberListWidget &list, int row, const QString &action) {
    bool menuSeen = false;
    QTimer::singleShot(100, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menuSeen = true;
        QCOMPARE(menu->objectName(), QStringLiteral("CustomMenu"));
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("传输文件"));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("取消共享"));
        for (QAction *a : menu->actions()) {
            if (a->text() == action)
                a->trigger();
        }
        menu->close();
    });
    QListWidget *l = rows(list);
    const QPoint pos =
        row < l->count() ? l->visualItemRect(l->item(row)).center() : QPoint(10, l->height() - 2);
    QMetaObject::invokeMethod(&list, "on_userlistWidget_customContextMenuRequested", Q_ARG(QPoint, pos));
    QTest::qWait(250);
    return menuSeen;
}

}  // namespace

class TestMemberList : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(stylesheetwatch::failures().loadAcquire(), 0);
    }
    void initTestCase() {
        stylesheetwatch::install();
        signalingtypes::registerMetaTypes();
    }

    void emptyListOnAttendee() {
        MemberListWidget list;
        list.onAlluserRefreshed({});
        QCOMPARE(rows(list)->count(), 1);
        QCOMPARE(rowAt(list, 0)->name(), QStringLiteral("主持人"));
        QCOMPARE(countText(list), QStringLiteral("当前成员 (1)"));
        QVERIFY(emptyStateShown(list));
        QCOMPARE(rows(list)->item(0)->sizeHint(), QSize(0, 36));
        QCOMPARE(rows(list)->contextMenuPolicy(), Qt::NoContextMenu);
    }

    void emptyListOnHost() {
        MemberListWidget list;
        list.setHostMode(true);
        list.onAlluserRefreshed({});
        QCOMPARE(rows(list)->count(), 1);
        QCOMPARE(rowAt(list, 0)->name(), QStringLiteral("主持人 (我)"));
        QCOMPARE(countText(list), QStringLiteral("当前成员 (1)"));
        QVERIFY(emptyStateShown(list));
        QCOMPARE(rows(list)->contextMenuPolicy(), Qt::CustomContextMenu);
    }

    void rowsFollowTheUserList() {
        MemberListWidget list;
        list.setHostMode(true);
        list.onAlluserRefreshed({user("{1}", "alice"), user("{2}", "phone", 1), user("{3}", "bob", 2)});
        QCOMPARE(rows(list)->count(), 4);
        QCOMPARE(countText(list), QStringLiteral("当前成员 (4)"));
        QVERIFY(emptyStateHidden(list));
        QCOMPARE(rowAt(list, 1)->name(), QStringLiteral("alice"));
        QCOMPARE(rowAt(list, 2)->name(), QStringLiteral("phone"));
        QCOMPARE(rowAt(list, 0)->deviceType(), 0);
        QCOMPARE(rowAt(list, 2)->deviceType(), 1);
        QVERIFY(
            rowAt(list, 2)->findChild<QLabel *>("label_ico")->styleSheet().contains(":/img/mobile@2x.png"));
        QVERIFY(rowAt(list, 1)->findChild<QLabel *>("label_ico")->styleSheet().contains(":/img/pc@2x.png"));
        QVERIFY(rowAt(list, 3)->findChild<QLabel *>("label_ico")->styleSheet().contains(":/img/pc@2x.png"));
        QCOMPARE(list.memberIds(), QStringList({"{1}", "{2}", "{3}"}));
        QCOMPARE(list.nickName("{3}"), QStringLiteral("bob"));
        QCOMPARE(list.nickName("{9}"), QString());

        // A later, shorter list replaces everything.
        list.onAlluserRefreshed({user("{3}", "bob")});
        QCOMPARE(rows(list)->count(), 2);
        QCOMPARE(countText(list), QStringLiteral("当前成员 (2)"));
        QCOMPARE(list.memberIds(), QStringList({"{3}"}));
        QCOMPARE(list.nickName("{1}"), QString());
        list.onAlluserRefreshed({});
        QVERIFY(emptyStateShown(list));
    }

    void selectionMarksTheCurrentRow() {
        MemberListWidget list;
        list.onAlluserRefreshed({user("{1}", "alice"), user("{2}", "bob")});
        rows(list)->setCurrentRow(1);
        QVERIFY(rowAt(list, 1)->isSelected());
        QVERIFY(rowAt(list, 1)->styleSheet().contains("#DFEDF8"));
        rows(list)->setCurrentRow(2);
        QVERIFY(!rowAt(list, 1)->isSelected());
        QVERIFY(rowAt(list, 2)->isSelected());
        // Rebuilding while a row is current must not touch the deleted rows.
        list.onAlluserRefreshed({user("{1}", "alice")});
        QCOMPARE(rows(list)->count(), 2);
    }

    void refreshButton() {
        MemberListWidget list;
        QSignalSpy spy(&list, &MemberListWidget::refreshUsersBtnClicked);
        QTest::mouseClick(list.findChild<QPushButton *>("refreshButton"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }

    void hostMenuOnMembers() {
        MemberListWidget list;
        list.setHostMode(true);
        list.resize(160, 424);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list, 20000));
        list.onAlluserRefreshed({user("{1}", "alice"), user("{2}", "bob")});
        QSignalSpy transfer(&list, &MemberListWidget::sigTransferFileClicked);
        QSignalSpy cancel(&list, &MemberListWidget::sigCancelShareClicked);

        QVERIFY(pickFromMenu(list, 2, QStringLiteral("传输文件")));
        QCOMPARE(transfer.count(), 1);
        QCOMPARE(transfer.at(0).at(0).toString(), QStringLiteral("{2}"));
        QVERIFY(pickFromMenu(list, 1, QStringLiteral("取消共享")));
        QCOMPARE(cancel.count(), 1);
        QCOMPARE(cancel.at(0).at(0).toString(), QStringLiteral("{1}"));

        // Never on the host row, nor on empty space.
        QVERIFY(!pickFromMenu(list, 0, QString()));
        QVERIFY(!pickFromMenu(list, 99, QString()));
        QCOMPARE(transfer.count(), 1);
        QCOMPARE(cancel.count(), 1);
    }

    void listRebuiltWhileMenuOpenSendsNothing() {
        MemberListWidget list;
        list.setHostMode(true);
        list.resize(160, 424);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list, 20000));
        list.onAlluserRefreshed({user("{1}", "alice")});
        QSignalSpy transfer(&list, &MemberListWidget::sigTransferFileClicked);
        QTimer::singleShot(50, &list, [&] { list.onAlluserRefreshed({user("{7}", "carol")}); });
        QVERIFY(pickFromMenu(list, 1, QStringLiteral("传输文件")));
        QCOMPARE(transfer.count(), 0);
    }

    void ownRowFollowsTheClientsId() {
        ZU_REQUIRE_TEST_NAMESPACE();
        // A stand-in server that greets the client with its id and later sends a member list.
        QWebSocketServer server("test", QWebSocketServer::NonSecureMode);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QWebSocket *peer = nullptr;
        connect(&server, &QWebSocketServer::newConnection, [&] { peer = server.nextPendingConnection(); });

        auto client = std::make_shared<SignalingClient>();
        MemberListWidget list;
        list.setSignalingClient(client);
        list.onAlluserRefreshed({user("{me}", "watcher"), user("{x}", "other")});
        // Before the id arrived no row is this user's own, not even the host row with its empty id.
        QCOMPARE(rowAt(list, 0)->name(), QStringLiteral("主持人"));
        QCOMPARE(rowAt(list, 1)->name(), QStringLiteral("watcher"));

        QVERIFY(client->postConnectServer(
            QUrl(QStringLiteral("ws://127.0.0.1:%1/zu_remote_ctrl").arg(server.serverPort()))));
        QTRY_VERIFY_WITH_TIMEOUT(peer != nullptr, 5000);
        peer->sendTextMessage(
            QStringLiteral("{\"data\":{\"data\":null,\"data_type\":\"id\",\"id\":\"{me}\",\"request_data\":"
                           "\"\"},\"error\":\"\","
                           "\"error_code\":0,\"sender\":\"\",\"target\":\"{me}\",\"type\":\"data\"}\n"));
        QTRY_COMPARE_WITH_TIMEOUT(client->myId(), QStringLiteral("{me}"), 5000);

        // The list arrives from the client's own thread; the rows are built on the GUI thread.
        peer->sendTextMessage(QStringLiteral(
            "{\"data\":{\"data\":[{\"devicetype\":\"0\",\"id\":\"{x}\",\"nickname\":\"other\"},"
            "{\"devicetype\":\"0\",\"id\":\"{me}\",\"nickname\":\"watcher\"},"
            "{\"devicetype\":\"1\",\"id\":\"{m}\",\"nickname\":\"mobile\"}],"
            "\"data_type\":\"allUser\",\"id\":\"\",\"request_data\":\"\"},\"error\":\"\",\"error_code\":0,"
            "\"sender\":\"\",\"target\":\"{me}\",\"type\":\"data\"}\n"));
        QTRY_COMPARE_WITH_TIMEOUT(rows(list)->count(), 4, 5000);
        QCOMPARE(rowAt(list, 0)->name(), QStringLiteral("主持人"));
        QCOMPARE(rowAt(list, 1)->name(), QStringLiteral("other"));
        QCOMPARE(rowAt(list, 2)->name(), QStringLiteral("watcher (我)"));
        QCOMPARE(rowAt(list, 3)->deviceType(), 1);
        QCOMPARE(countText(list), QStringLiteral("当前成员 (4)"));

        list.setSignalingClient(nullptr);
        client.reset();
        delete peer;
    }
};

QTEST_MAIN(TestMemberList)
#include "tst_memberlist.moc"
