#include "signalingserver.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QDebug>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include "core/refusallog.h"
#include "signaling/server/serverconnectionmanager.h"

namespace {

// Native clients send no Origin; the attendee page comes from this machine's own page server. Any
// other web page, in any browser on the LAN (this machine's included), must not join the share.
bool originAllowed(const QString &origin) {
    if (origin.isEmpty()) {
        return true;
    }
    const QUrl url(origin);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        return false;
    }
    const QHostAddress host(url.host());
    return url.host() == QLatin1String("localhost") ||
           (!host.isNull() && QNetworkInterface::allAddresses().contains(host));
}

}  // namespace

SignalingServer::SignalingServer(const signaling::RelayLimits &limits) : QObject(nullptr), m_limits(limits) {
    moveToThread(&m_thread);
    m_thread.start(QThread::InheritPriority);
}

SignalingServer::~SignalingServer() {
    // The listening socket, the manager and the accepted sockets are released on the worker
    // thread while its loop still runs, so nothing is left to a deferred delete that never comes.
    if (QThread::currentThread() == &m_thread) {
        shutDown();
    } else {
        QMetaObject::invokeMethod(this, "shutDown", Qt::BlockingQueuedConnection);
    }
    m_thread.exit(0);
    m_thread.wait();
}

bool SignalingServer::postStartListen(quint16 port) {
    m_port = port;
    return QMetaObject::invokeMethod(this, "startListen", Qt::QueuedConnection);
}

bool SignalingServer::postCloseConnect() {
    return QMetaObject::invokeMethod(this, "closeConnect", Qt::QueuedConnection);
}

void SignalingServer::startListen() {
    if (m_server) {
        if (m_server->isListening()) {
            m_server->close();
        }
        m_server->disconnect(this);
        retireServer();
    }
    m_server = new QWebSocketServer(QStringLiteral("Signaling Server"), QWebSocketServer::NonSecureMode);
    connect(m_server, &QWebSocketServer::newConnection, this, &SignalingServer::onNewConnection);
    connect(m_server, &QWebSocketServer::closed, this, &SignalingServer::onClosed);
    // Decided during the handshake, so it must run directly: a refusal answers 403.
    connect(
        m_server, &QWebSocketServer::originAuthenticationRequired, this,
        [](QWebSocketCorsAuthenticator *authenticator) {
            const bool allowed = originAllowed(authenticator->origin());
            if (!allowed) {
                logRefusal("server: origin", "signaling server refused a web page from " +
                                                 authenticator->origin().toStdString());
            }
            authenticator->setAllowed(allowed);
        },
        Qt::DirectConnection);
    if (!m_server->listen(QHostAddress::AnyIPv4, m_port)) {
        emit sigStartFailed();
        return;
    }
    // Accepted sockets inherit this: a relay must not wait behind a broadcast that the receiver
    // has not acknowledged yet (small writes held back until a delayed acknowledgement, 40 ms).
    const int noDelay = 1;
    if (setsockopt(int(m_server->nativeDescriptor()), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) !=
        0) {
        qDebug() << "signaling server: no TCP_NODELAY on the listening socket";
    }
    m_boundPort = m_server->serverPort();
    qDebug() << "signaling server listening, address:" << m_server->serverAddress();
    qDebug() << "signaling server listening, port:" << m_server->serverPort();
    emit sigStarted();
}

void SignalingServer::onNewConnection() {
    if (!m_server) {
        return;
    }
    QWebSocket *socket = m_server->nextPendingConnection();
    if (!socket) {
        return;
    }
    // Accepted sockets outlive the listening socket, which is replaced or closed at will.
    socket->setParent(nullptr);
    if (!m_manager) {
        m_manager = std::make_shared<signaling::ServerConnectionManager>(m_limits, m_origins);
    }
    m_manager->addConnection(socket);
}

void SignalingServer::onClosed() {
    emit sigClosed();
}

void SignalingServer::closeConnect() {
    if (m_server) {
        m_server->close();
        retireServer();
    }
}

void SignalingServer::retireServer() {
    // The accepted sockets' TCP sockets are children of the listening socket's TCP server, so
    // deleting it would pull the transport out from under every open connection. A closed
    // listening socket is therefore kept until the connections are gone.
    m_retiredServers.push_back(m_server);
    m_server = nullptr;
    m_boundPort = 0;
}

void SignalingServer::shutDown() {
    if (m_server) {
        m_server->disconnect(this);
        m_server->close();
        retireServer();
    }
    m_manager.reset();
    for (QWebSocketServer *retired : m_retiredServers) {
        delete retired;
    }
    m_retiredServers.clear();
}
