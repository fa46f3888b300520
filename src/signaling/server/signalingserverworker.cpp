#include "signaling/server/signalingserverworker.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QNetworkInterface>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include "core/refusallog.h"
#include "signaling/server/serverconnectionmanager.h"
#include "signaling/signalinglog.h"

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

SignalingServerWorker::SignalingServerWorker(const signaling::RelayLimits &limits,
                                             std::shared_ptr<signaling::MemberOrigins> origins)
    : limits_(limits), origins_(std::move(origins)) {}

SignalingServerWorker::~SignalingServerWorker() {
    shutDown();
}

void SignalingServerWorker::startListen(quint16 port) {
    if (server_) {
        if (server_->isListening()) {
            server_->close();
        }
        server_->disconnect(this);
        retireServer();
    }
    server_ = new QWebSocketServer(QStringLiteral("Signaling Server"), QWebSocketServer::NonSecureMode);
    connect(server_, &QWebSocketServer::newConnection, this, &SignalingServerWorker::onNewConnection);
    connect(server_, &QWebSocketServer::closed, this, &SignalingServerWorker::sigClosed);
    // Decided during the handshake, so it must run directly: a refusal answers 403.
    connect(
        server_, &QWebSocketServer::originAuthenticationRequired, this,
        [](QWebSocketCorsAuthenticator *authenticator) {
            const bool allowed = originAllowed(authenticator->origin());
            if (!allowed) {
                logRefusal("server: origin", "signaling server refused a web page from " +
                                                 authenticator->origin().toStdString());
            }
            authenticator->setAllowed(allowed);
        },
        Qt::DirectConnection);
    if (!server_->listen(QHostAddress::AnyIPv4, port)) {
        emit sigStartFailed();
        return;
    }
    // Accepted sockets inherit this: a relay must not wait behind a broadcast that the receiver
    // has not acknowledged yet (small writes held back until a delayed acknowledgement, 40 ms).
    const int noDelay = 1;
    if (setsockopt(int(server_->nativeDescriptor()), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) !=
        0) {
        qCDebug(lcSignaling) << "signaling server: no TCP_NODELAY on the listening socket";
    }
    boundPort_ = server_->serverPort();
    qCDebug(lcSignaling) << "signaling server listening on" << server_->serverAddress().toString()
                         << server_->serverPort();
    emit sigStarted();
}

void SignalingServerWorker::onNewConnection() {
    if (!server_) {
        return;
    }
    QWebSocket *socket = server_->nextPendingConnection();
    if (!socket) {
        return;
    }
    // Accepted sockets outlive the listening socket, which is replaced or closed at will.
    socket->setParent(nullptr);
    if (!manager_) {
        manager_ = std::make_shared<signaling::ServerConnectionManager>(limits_, origins_);
    }
    manager_->addConnection(socket);
}

void SignalingServerWorker::closeConnect() {
    if (server_) {
        server_->close();
        retireServer();
    }
}

void SignalingServerWorker::retireServer() {
    // The accepted sockets' TCP sockets are children of the listening socket's TCP server, so
    // deleting it would pull the transport out from under every open connection. A closed
    // listening socket is therefore kept until the connections are gone.
    retiredServers_.push_back(server_);
    server_ = nullptr;
    boundPort_ = 0;
}

void SignalingServerWorker::shutDown() {
    if (server_) {
        server_->disconnect(this);
        server_->close();
        retireServer();
    }
    manager_.reset();
    for (QWebSocketServer *retired : retiredServers_) {
        delete retired;
    }
    retiredServers_.clear();
}
