#include <QWebSocket>
#include <QWebSocketServer>

#include "signaling/signalingclient.h"
#include "support/pinlibraries.h"
#include "support/testsupport.h"
#include "ui/memberitemwidget.h"
#include "ui/memberlistwidget.h"
#include "uiscript.h"

static QListWidget *rows(MemberListWidget &list) {
    return list.findChild<QListWidget *>("userlistWidget");
}
static MemberItemWidget *row(MemberListWidget &list, int i) {
    return qobject_cast<MemberItemWidget *>(rows(list)->itemWidget(rows(list)->item(i)));
}

// The count above the rows and the names they show.
static QStringList shown(MemberListWidget &list) {
    QStringList names{list.findChild<QLabel *>("label_mem_num")->text()};
    for (int i = 0; i < rows(list)->count(); ++i)
        names << row(list, i)->name();
    return names;
}

static bool emptyStateShown(MemberListWidget &list) {
    return !list.findChild<QWidget *>("widget_empty")->isHidden();
}

// Opens the member menu on a row (or below the rows), runs whileOpen, picks an action; returns what it
// offered.
static QStringList pickFromMenu(
    MemberListWidget &list, int row, const QString &action, const std::function<void()> &whileOpen = [] {}) {
    QStringList offered;
    QTimer poll;  // runs inside the menu's own loop
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        const QList<QAction *> actions = menu->actions();
        whileOpen();
        for (QAction *a : actions) {
            offered << a->text();
            if (a->text() == action)
                a->trigger();
        }
        menu->close();
    });
    poll.start(20);
    QListWidget *l = rows(list);
    const QPoint pos =
        row < l->count() ? l->visualItemRect(l->item(row)).center() : QPoint(10, l->height() - 2);
    QMetaObject::invokeMethod(&list, "showMemberMenu", Q_ARG(QPoint, pos));
    return offered;
}

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
        MemberListWidget list;
        list.setHostMode(true);
        list.onAlluserRefreshed({{"{1}", "alice"}, {"{2}", "phone", 1}, {"{3}", "bob", 2}});
        QCOMPARE(shown(list), QStringList({"当前成员 (4)", "主持人 (我)", "alice", "phone", "bob"}));
        QVERIFY(!emptyStateShown(list) && rows(list)->contextMenuPolicy() == Qt::CustomContextMenu);
        QVERIFY(row(list, 1)->deviceType() == 0 && row(list, 2)->deviceType() == 1);
        QCOMPARE(list.memberIds(), QStringList({"{1}", "{2}", "{3}"}));
        QVERIFY(list.nickName("{3}") == QStringLiteral("bob") && list.nickName("{9}").isEmpty());
        // A later, shorter list replaces everything; rebuilt while a row is current, deleted rows stay
        // untouched.
        rows(list)->setCurrentRow(2);
        QVERIFY(row(list, 2)->isSelected() && !row(list, 1)->isSelected());
        list.onAlluserRefreshed({{"{3}", "bob"}});
        QCOMPARE(shown(list), QStringList({"当前成员 (2)", "主持人 (我)", "bob"}));
        QVERIFY(list.nickName("{1}").isEmpty());
        list.onAlluserRefreshed({});
        QVERIFY(emptyStateShown(list));
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
        QCOMPARE(pickFromMenu(list, 2, "传输文件"), QStringList({"传输文件", "取消共享"}));
        QVERIFY(!pickFromMenu(list, 1, "取消共享").isEmpty());
        // Never on the host row, nor on empty space.
        QVERIFY(pickFromMenu(list, 0, QString()).isEmpty() && pickFromMenu(list, 99, QString()).isEmpty());
        QCOMPARE(transfer, QList<QVariantList>({{QStringLiteral("{2}")}}));
        QCOMPARE(cancel, QList<QVariantList>({{QStringLiteral("{1}")}}));
        // The list rebuilt while the menu is open: the picked member is gone, nothing is sent.
        auto rebuild = [&] { list.onAlluserRefreshed({{"{7}", "carol"}}); };
        QVERIFY(!pickFromMenu(list, 1, "传输文件", rebuild).isEmpty());
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
        QCOMPARE(rows(list)->contextMenuPolicy(), Qt::NoContextMenu);  // an attendee's list has no menu
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
