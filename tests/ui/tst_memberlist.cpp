#include <QWebSocket>
#include <QWebSocketServer>

#include "signaling/signalingclient.h"
#include "support/pinlibraries.h"
#include "support/testsupport.h"
#include "ui/memberitemwidget.h"
#include "ui/memberlistwidget.h"
#include "uiscript.h"

namespace {

QListWidget *rows(MemberListWidget &list) {
    return list.findChild<QListWidget *>("userlistWidget");
}

// The names the rows show and the count above them.
QStringList shown(MemberListWidget &list) {
    QStringList names{list.findChild<QLabel *>("label_mem_num")->text()};
    for (int i = 0; i < rows(list)->count(); ++i)
        names << qobject_cast<MemberItemWidget *>(rows(list)->itemWidget(rows(list)->item(i)))->name();
    return names;
}

bool emptyStateShown(MemberListWidget &list) {
    return !list.findChild<QWidget *>("widget_empty")->isHidden() &&
           !list.findChild<QWidget *>("label_msg")->isHidden();
}

// Opens the member menu on a row (or below the rows) and picks the action with the given text; the
// texts the menu offered, none when no menu opened. whileOpen runs first while the menu is open.
QStringList pickFromMenu(MemberListWidget &list, int row, const QString &action,
                         const std::function<void()> &whileOpen = {}) {
    QStringList offered;
    QTimer poll;  // runs inside the menu's own loop
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *a : menu->actions())
            offered << a->text();
        if (whileOpen)
            whileOpen();
        for (QAction *a : menu->actions()) {
            if (a->text() == action)
                a->trigger();
        }
        menu->close();
    });
    poll.start();
    QListWidget *l = rows(list);
    const QPoint pos =
        row < l->count() ? l->visualItemRect(l->item(row)).center() : QPoint(10, l->height() - 2);
    QMetaObject::invokeMethod(&list, "on_userlistWidget_customContextMenuRequested", Q_ARG(QPoint, pos));
    return offered;
}

}  // namespace

class TestMemberList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        uitest::watchStyleSheets();
        signalingtypes::registerMetaTypes();
    }
    void cleanupTestCase() {
        pinLoadedLibraries();
        QCOMPARE(uitest::styleSheetFailures.loadAcquire(), 0);
    }

    void rowsFollowTheUserList() {
        MemberListWidget attendee;
        attendee.onAlluserRefreshed({});
        QCOMPARE(shown(attendee), QStringList({"当前成员 (1)", "主持人"}));
        QVERIFY(emptyStateShown(attendee));
        QCOMPARE(rows(attendee)->contextMenuPolicy(), Qt::NoContextMenu);

        MemberListWidget list;
        list.setHostMode(true);
        list.onAlluserRefreshed({});
        QCOMPARE(shown(list), QStringList({"当前成员 (1)", "主持人 (我)"}));
        QVERIFY(emptyStateShown(list));
        QCOMPARE(rows(list)->contextMenuPolicy(), Qt::CustomContextMenu);
        list.onAlluserRefreshed({{"{1}", "alice"}, {"{2}", "phone", 1}, {"{3}", "bob", 2}});
        QCOMPARE(shown(list), QStringList({"当前成员 (4)", "主持人 (我)", "alice", "phone", "bob"}));
        QVERIFY(!emptyStateShown(list));
        auto row = [&](int i) {
            return qobject_cast<MemberItemWidget *>(rows(list)->itemWidget(rows(list)->item(i)));
        };
        QCOMPARE(row(1)->deviceType(), 0);
        QCOMPARE(row(2)->deviceType(), 1);
        QCOMPARE(list.memberIds(), QStringList({"{1}", "{2}", "{3}"}));
        QCOMPARE(list.nickName("{3}"), QStringLiteral("bob"));
        QCOMPARE(list.nickName("{9}"), QString());

        // A later, shorter list replaces everything; rebuilding while a row is current must not touch
        // the deleted rows.
        rows(list)->setCurrentRow(2);
        QVERIFY(row(2)->isSelected() && !row(1)->isSelected());
        list.onAlluserRefreshed({{"{3}", "bob"}});
        QCOMPARE(shown(list), QStringList({"当前成员 (2)", "主持人 (我)", "bob"}));
        QCOMPARE(list.nickName("{1}"), QString());
        list.onAlluserRefreshed({});
        QVERIFY(emptyStateShown(list));

        QSignalSpy refresh(&list, &MemberListWidget::refreshUsersBtnClicked);
        QTest::mouseClick(list.findChild<QPushButton *>("refreshButton"), Qt::LeftButton);
        QCOMPARE(refresh.count(), 1);
    }

    void hostMenuOnMembers() {
        MemberListWidget list;
        list.setHostMode(true);
        list.resize(160, 424);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list, 20000));
        list.onAlluserRefreshed({{"{1}", "alice"}, {"{2}", "bob"}});
        QSignalSpy transfer(&list, &MemberListWidget::sigTransferFileClicked);
        QSignalSpy cancel(&list, &MemberListWidget::sigCancelShareClicked);
        const QStringList menu{"传输文件", "取消共享"};
        QCOMPARE(pickFromMenu(list, 2, "传输文件"), menu);
        QCOMPARE(pickFromMenu(list, 1, "取消共享"), menu);
        // Never on the host row, nor on empty space.
        QCOMPARE(pickFromMenu(list, 0, QString()), QStringList());
        QCOMPARE(pickFromMenu(list, 99, QString()), QStringList());
        QCOMPARE(transfer, QList<QVariantList>({{QStringLiteral("{2}")}}));
        QCOMPARE(cancel, QList<QVariantList>({{QStringLiteral("{1}")}}));
        // The list rebuilt while the menu is open: the picked member is gone, nothing is sent.
        QVERIFY(!pickFromMenu(list, 1, "传输文件", [&] {
                     list.onAlluserRefreshed({{"{7}", "carol"}});
                 }).isEmpty());
        QCOMPARE(transfer.count(), 1);
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
        list.onAlluserRefreshed({{"{me}", "watcher"}, {"{x}", "other"}});
        // Before the id arrived no row is this user's own, not even the host row with its empty id.
        QCOMPARE(shown(list), QStringList({"当前成员 (3)", "主持人", "watcher", "other"}));

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
        QTRY_COMPARE_WITH_TIMEOUT(
            shown(list), QStringList({"当前成员 (4)", "主持人", "other", "watcher (我)", "mobile"}), 5000);

        list.setSignalingClient(nullptr);
        client.reset();
        delete peer;
    }
};

QTEST_MAIN(TestMemberList)
#include "tst_memberlist.moc"
