#include "mobilemember.h"

#include <QWebSocket>
#include <cstdio>

#include "rtc/zuwebrtc.h"
#include "signaling/databean.h"
#include "signaling/icecandiatedatabean.h"
#include "signaling/modifydatabean.h"
#include "signaling/sdpdatabean.h"
#include "signaling/signalingbean.h"

namespace {

void say(const std::string &line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

MobileMember::MobileMember(const QUrl &url, const QString &nickname) : m_url(url), m_nickname(nickname) {}

MobileMember::~MobileMember() {
    if (m_pc != 0) {
        ClosePeerConnection(m_pc);
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void MobileMember::start() {
    m_socket = std::make_unique<QWebSocket>();
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &MobileMember::onText);
    connect(m_socket.get(), &QWebSocket::connected, this, [] { say("connected"); });
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] {
        say("disconnected");
        emit sigFinished(m_asked ? 0 : 2);
    });
    m_socket->open(m_url);
}

void MobileMember::sendBean(const SignalingBean &bean) {
    if (m_socket) {
        m_socket->sendTextMessage(QString::fromStdString(bean.toText()));
    }
}

void MobileMember::sendRequest(const char *request, const std::string &target) {
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(m_myId);
    bean.setTarget(target);
    auto body = bean.createData();
    body->setDataType("request");
    body->setRequestData(request);
    sendBean(bean);
}

void MobileMember::sendModify(const char *type, const std::string &value) {
    SignalingBean bean;
    bean.setType("ctrl");
    bean.setSender(m_myId);
    auto body = bean.createData();
    body->setDataType("modify");
    auto modify = std::make_shared<ModifyDataBean>();
    modify->setModifyType(type);
    modify->setData(value);
    body->setData(modify);
    sendBean(bean);
}

void MobileMember::onText(const QString &text) {
    auto bean = SignalingBean::fromText(text.toStdString());
    if (!bean || !bean->getData()) {
        return;
    }
    const auto &body = bean->getData();
    const std::string &kind = body->getDataType();
    if (bean->getType() == "data" && kind == "id") {
        m_myId = body->getId();
        sendModify("devicetype", "1");
        sendModify("nickname", m_nickname.toStdString());
        sendRequest("owner", "");
    } else if (bean->getType() == "data" && kind == "owner") {
        m_ownerId = body->getId();
        if (!m_asked) {
            m_asked = true;
            sendRequest("share", m_ownerId);
            say("asked to share");
        }
    } else if (bean->getType() == "data" && kind == "share_id") {
        m_shareId = body->getId();
        say("share_id " + m_shareId);
        startProjection();
    } else if (bean->getType() == "data" && kind == "share_screen_sdp") {
        if (auto sdp = body->getSdpData()) {
            SetRemoteDescription(m_pc, sdp->getSdpType() == "offer" ? "offer" : "answer",
                                 sdp->getSdp().c_str());
            say("answer applied");
        }
    } else if (bean->getType() == "data" && kind == "share_screen_ice_candidate") {
        if (auto ice = body->getIceCandidateData()) {
            AddIceCandidate(m_pc, ice->getCandidate().c_str(), ice->getSdpMlineIndex(),
                            ice->getSdpMid().c_str());
        }
    } else if (bean->getType() == "ctrl" && kind == "request") {
        if (body->getRequestData() == "stop_share") {
            say("stop_share received");
            endProjection("by the host");
        } else if (body->getRequestData() == "refuse_share") {
            say("share refused");
        }
    }
}

void MobileMember::startProjection() {
    if (m_pc != 0) {
        return;
    }
    m_pc = CreatePeerConnection(0, 0, 0, 0, 0);
    AddStream(m_pc, 1, 0);
    RegisterOnLocalSdpReadytoSend(m_pc, &MobileMember::onLocalSdp, this, m_pc);
    RegisterOnIceCandiateReadytoSend(m_pc, &MobileMember::onLocalIce, this, m_pc);
    RegisterOnPeerClosed(m_pc, &MobileMember::onPeerClosed, this, m_pc);
    CreateOffer(m_pc);
    say("offering");
}

void MobileMember::stopShare() {
    sendRequest("stop_share", m_ownerId);
    endProjection("here");
}

void MobileMember::endProjection(const char *why) {
    if (m_pc == 0) {
        return;
    }
    ClosePeerConnection(m_pc);
    m_pc = 0;
    say(std::string("projection ended ") + why);
}

void MobileMember::sendLocalSdp(const std::string &type, const std::string &sdp) {
    SignalingBean bean;
    bean.setType("data");
    bean.setSender(m_myId);
    bean.setTarget(m_ownerId);
    auto body = bean.createData();
    body->setDataType("share_screen_sdp");
    auto payload = std::make_shared<SdpDataBean>();
    payload->setSdpType(type);
    payload->setSdp(sdp);
    body->setData(payload);
    sendBean(bean);
}

void MobileMember::sendLocalIce(const std::string &candidate, int index, const std::string &mid) {
    SignalingBean bean;
    bean.setType("data");
    bean.setSender(m_myId);
    bean.setTarget(m_ownerId);
    auto body = bean.createData();
    body->setDataType("share_screen_ice_candidate");
    auto payload = std::make_shared<IceCandiateDataBean>();
    payload->setCandidate(candidate);
    payload->setSdpMlineIndex(index);
    payload->setSdpMid(mid);
    body->setData(payload);
    sendBean(bean);
}

void MobileMember::onLocalSdp(const char *type, const char *sdp, void *userData, int) {
    auto *self = static_cast<MobileMember *>(userData);
    std::string t = type ? type : "", s = sdp ? sdp : "";
    QMetaObject::invokeMethod(
        self, [self, t, s] { self->sendLocalSdp(t, s); }, Qt::QueuedConnection);
}

void MobileMember::onLocalIce(const char *candidate, int index, const char *mid, void *userData, int) {
    auto *self = static_cast<MobileMember *>(userData);
    std::string c = candidate ? candidate : "", m = mid ? mid : "";
    QMetaObject::invokeMethod(
        self, [self, c, index, m] { self->sendLocalIce(c, index, m); }, Qt::QueuedConnection);
}

void MobileMember::onPeerClosed(void *userData, int tag) {
    auto *self = static_cast<MobileMember *>(userData);
    QMetaObject::invokeMethod(
        self,
        [self, tag] {
            if (self->m_pc == tag) {
                self->endProjection("by the engine");
            }
        },
        Qt::QueuedConnection);
}
