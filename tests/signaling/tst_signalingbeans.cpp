#include <QtTest>

#include "core/jsontext.h"
#include "signaling/icecandiatedatabean.h"
#include "signaling/modifydatabean.h"
#include "signaling/sdpdatabean.h"
#include "signaling/signalingbean.h"
#include "signaling/signalingtypes.h"
#include "signaling/userlistdatabean.h"

namespace {

std::shared_ptr<SignalingBean> parse(const char *text) {
    auto bean = SignalingBean::fromText(text);
    if (!bean) {
        qFatal("not JSON: %s", text);
    }
    return bean;
}

std::shared_ptr<DataBean> bodyOf(const char *text) {
    return parse(text)->getData();
}

}  // namespace

class TestSignalingBeans : public QObject {
    Q_OBJECT
private slots:
    void minimalEnvelopeGetsDefaults() {
        auto bean = parse(R"({"type":"ctrl"})");
        QCOMPARE(bean->getType(), std::string("ctrl"));
        QCOMPARE(bean->getSender(), std::string());
        QCOMPARE(bean->getTarget(), std::string());
        QCOMPARE(bean->getErrorCode(), 0);
        QVERIFY(bean->getData());
        QCOMPARE(bean->getData()->getDataType(), std::string());
        QVERIFY(!bean->getData()->getData());

        // Non-object roots and wrong types are read leniently, never rejected.
        for (const char *text : {"[1,2]", "42", "\"x\"", "null", R"({"type":5,"sender":5,"data":"x"})",
                                 "// comment\n{\"type\":\"data\"}"}) {
            auto other = parse(text);
            QVERIFY(other->getData());
            QCOMPARE(other->getSender(), std::string());
        }
        QVERIFY(!SignalingBean::fromText("{\"type\":"));
        QVERIFY(!SignalingBean::fromText(""));
    }

    void deepNestingIsRefused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        const auto nested = [](int depth) { return QByteArray(depth, '[') + QByteArray(depth, ']'); };
        QTest::newRow("at the limit") << nested(jsontext::kMaxDepth) << true;
        QTest::newRow("one over") << nested(jsontext::kMaxDepth + 1) << false;
        // Where jsoncpp's own limit throws, and a whole datagram of it.
        QTest::newRow("1000 open arrays") << QByteArray(1000, '[') << false;
        QTest::newRow("65507 open arrays") << QByteArray(65507, '[') << false;
        QTest::newRow("1000 open objects") << QByteArray("{\"a\":").repeated(1000) << false;
    }

    void deepNestingIsRefused() {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        Json::Value value;
        QCOMPARE(jsontext::parse(text.toStdString(), value), accepted);
        QCOMPARE(SignalingBean::fromText(text.toStdString()) != nullptr, accepted);
    }

    void integerFieldsAcceptOnlyIntegralNumbers() {
        auto ice = [](const char *index) {
            const std::string text =
                std::string(R"({"data":{"data_type":"ice_candidate","data":{"sdp_mline_index":)") + index +
                "}}}";
            return SignalingBean::fromText(text)->getData()->getIceCandidateData()->getSdpMlineIndex();
        };
        QCOMPARE(ice("\"0\""), 0);
        QCOMPARE(ice("\"3\""), 0);
        QCOMPARE(ice("1.0"), 1);
        QCOMPARE(ice("2"), 2);
        QCOMPARE(ice("1.5"), 0);
        QCOMPARE(ice("4294967296"), 0);
        QCOMPARE(ice("-7"), -7);
        QCOMPARE(parse(R"({"error_code":"3"})")->getErrorCode(), 0);
        QCOMPARE(parse(R"({"error_code":-2})")->getErrorCode(), -2);
    }

    void devicetypeRules() {
        auto users = bodyOf(R"({"data":{"data_type":"allUser","data":[
            {"id":"a","nickname":"n","devicetype":1},
            {"id":"b","devicetype":"1"},
            {"id":"c","devicetype":"2"},
            {"id":"d"},
            7]}})")
                         ->getUserListData()
                         ->getUsers();
        QCOMPARE(users.size(), size_t(5));
        QCOMPARE(users[0]->getDevicetype(), 0);
        QCOMPARE(users[1]->getDevicetype(), 1);
        QCOMPARE(users[2]->getDevicetype(), 0);
        QCOMPARE(users[3]->getDevicetype(), 0);
        QCOMPARE(users[4]->getId(), std::string());
        QCOMPARE(jsontext::write(users[1]->toJson()),
                 std::string(R"({"devicetype":"1","id":"b","nickname":""})"
                             "\n"));
        UserBean other;
        other.setDevicetype(5);
        QCOMPARE(other.toJson()["devicetype"].asString(), std::string("0"));
    }

    void userListNullBothWays() {
        for (const char *text :
             {R"({"data":{"data_type":"allUser","data":{"id":"x"}}})",
              R"({"data":{"data_type":"allUser","data":null}})", R"({"data":{"data_type":"allUser"}})"}) {
            auto list = bodyOf(text)->getUserListData();
            QVERIFY2(list, text);
            QVERIFY(list->getUsers().empty());
        }
        DataBean body;
        body.setDataType("allUser");
        auto list = std::make_shared<UserListDataBean>();
        list->addUser(nullptr);
        body.setData(list);
        QCOMPARE(jsontext::write(body.toJson()),
                 std::string(R"({"data":null,"data_type":"allUser","id":"","request_data":""})"
                             "\n"));
        auto user = std::make_shared<UserBean>();
        user->setId("u");
        list->addUser(user);
        QCOMPARE(
            jsontext::write(body.toJson()),
            std::string(
                R"({"data":[{"devicetype":"0","id":"u","nickname":""}],"data_type":"allUser","id":"","request_data":""})"
                "\n"));
    }

    void unknownDataTypeHasNoPayload() {
        auto body = bodyOf(R"({"data":{"data_type":"whatever","data":{"sdp":"x"},"id":"i"}})");
        QVERIFY(!body->getData());
        QVERIFY(!body->getSdpData());
        QCOMPARE(body->getId(), std::string("i"));
        QCOMPARE(jsontext::write(body->toJson()),
                 std::string(R"({"data":null,"data_type":"whatever","id":"i","request_data":""})"
                             "\n"));
        QVERIFY(!createInternalData("request", Json::Value(Json::objectValue)));
        // The accessors downcast and never confuse payload classes.
        auto sdp = bodyOf(R"({"data":{"data_type":"sdp","data":{"sdp":"v=0"}}})");
        QVERIFY(sdp->getSdpData());
        QVERIFY(!sdp->getIceCandidateData());
        QVERIFY(!sdp->getModifyData());
        QVERIFY(!sdp->getUserListData());
    }

    void writtenTextIsByteExact() {
        SignalingBean bean;
        bean.setType("ctrl");
        bean.createData()->setDataType("request");
        bean.getData()->setRequestData("owner");
        QCOMPARE(
            bean.toText(),
            std::string(
                R"({"data":{"data":null,"data_type":"request","id":"","request_data":"owner"},"error":"","error_code":0,"sender":"","target":"","type":"ctrl"})"
                "\n"));

        SignalingBean empty;
        QCOMPARE(empty.toText(),
                 std::string(R"({"data":null,"error":"","error_code":0,"sender":"","target":"","type":""})"
                             "\n"));

        SignalingBean nick;
        nick.setType("ctrl");
        auto body = nick.createData();
        body->setDataType("modify");
        body->setRequestData("nickname");
        auto modify = std::make_shared<ModifyDataBean>();
        modify->setModifyType("nickname");
        modify->setData("张三😀");
        body->setData(modify);
        QCOMPARE(
            nick.toText(),
            std::string(
                R"({"data":{"data":{"data":"\u5f20\u4e09\ud83d\ude00","modify_type":"nickname"},"data_type":"modify","id":"","request_data":"nickname"},"error":"","error_code":0,"sender":"","target":"","type":"ctrl"})"
                "\n"));
        // And back: the escapes are read as the original UTF-8.
        auto again = SignalingBean::fromText(nick.toText());
        QCOMPARE(again->getData()->getModifyData()->getData(), std::string("张三😀"));
    }

    // Every kind of the vocabulary survives writing and reading with its fields intact.
    void roundTripEveryMessageKind() {
        struct Kind {
            const char *type;
            const char *dataType;
            const char *request;
        };
        const Kind kinds[] = {
            {"data", "id", ""},
            {"ctrl", "request", "owner"},
            {"data", "owner", ""},
            {"ctrl", "modify", "nickname"},
            {"ctrl", "modify", "devicetype"},
            {"ctrl", "request", "allUser"},
            {"data", "allUser", ""},
            {"data", "sdp", ""},
            {"data", "ice_candidate", ""},
            {"ctrl", "request", "share"},
            {"ctrl", "request", "agree_share"},
            {"data", "share_id", ""},
            {"ctrl", "request", "refuse_share"},
            {"ctrl", "request", "stop_share"},
            {"data", "share_screen_sdp", ""},
            {"data", "share_screen_ice_candidate", ""},
            {"ctrl", "request", "cut_off"},
        };
        const std::string id = "{0b7e3a52-2a8e-4c1e-9d0e-5c1f0e0b6a11}";
        for (const Kind &kind : kinds) {
            SignalingBean bean;
            bean.setType(kind.type);
            bean.setSender(id);
            bean.setTarget("{target}");
            auto body = bean.createData();
            body->setDataType(kind.dataType);
            body->setRequestData(kind.request);
            body->setId(id);
            const std::string dataType = kind.dataType;
            if (dataType == "sdp" || dataType == "share_screen_sdp") {
                auto sdp = std::make_shared<SdpDataBean>();
                sdp->setSdpType("offer");
                sdp->setSdp("v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\n");
                body->setData(sdp);
            } else if (dataType == "ice_candidate" || dataType == "share_screen_ice_candidate") {
                auto ice = std::make_shared<IceCandiateDataBean>();
                ice->setCandidate("candidate:1 1 UDP 2015363327 10.77.0.1 40000 typ host");
                ice->setSdpMlineIndex(1);
                ice->setSdpMid("video0");
                body->setData(ice);
            } else if (dataType == "allUser") {
                auto list = std::make_shared<UserListDataBean>();
                auto user = std::make_shared<UserBean>();
                user->setId(id);
                user->setNickname("李四");
                user->setDevicetype(1);
                list->addUser(user);
                body->setData(list);
            } else if (dataType == "modify") {
                auto modify = std::make_shared<ModifyDataBean>();
                modify->setModifyType(kind.request);
                modify->setData("1");
                body->setData(modify);
            }
            const std::string text = bean.toText();
            auto back = SignalingBean::fromText(text);
            QVERIFY(back);
            QCOMPARE(back->toText(), text);
            QCOMPARE(back->getType(), std::string(kind.type));
            QCOMPARE(back->getData()->getDataType(), dataType);
            QCOMPARE(back->getData()->getRequestData(), std::string(kind.request));
            QCOMPARE(back->getData()->getId(), id);
            QCOMPARE(bool(back->getData()->getData()), bool(body->getData()));
        }
    }

    void metaTypesHaveTheirNames() {
        signalingtypes::registerMetaTypes();
        signalingtypes::registerMetaTypes();
        QVERIFY(QMetaType::type("sdpType") != QMetaType::UnknownType);
        QVERIFY(QMetaType::type("QList<SignalingUser>") != QMetaType::UnknownType);
        QVERIFY(QMetaType::type("std::string") != QMetaType::UnknownType);
        QCOMPARE(int(sizeof(sdpType)), 4);
        QCOMPARE(int(OFFER), 1);
        QCOMPARE(int(ANSWER), 2);
    }
};

QTEST_GUILESS_MAIN(TestSignalingBeans)
#include "tst_signalingbeans.moc"
