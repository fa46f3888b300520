#include "httpstub.h"

#include <QHostAddress>

HttpStub::HttpStub(QObject *parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &HttpStub::onNewConnection);
}

bool HttpStub::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString HttpStub::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void HttpStub::onNewConnection() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void HttpStub::onReadyRead(QTcpSocket *socket) {
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            return;
        }
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0) {
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
            }
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length) {
            return;
        }
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);

        switch (m_mode) {
            case Mode::Ok:
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n\r\n"
                    "{\"code\":0}\n");
                break;
            case Mode::ServerError:
                socket->write("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\nfail\n");
                break;
            case Mode::Close:
                socket->abort();
                return;
            case Mode::Hang:
                break;
        }
    }
}
