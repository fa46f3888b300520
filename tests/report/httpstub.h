#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A minimal HTTP/1.1 server on loopback that records each request and answers as told.
class HttpStub : public QObject {
    Q_OBJECT

public:
    enum class Mode { Ok, ServerError, Close, Hang };

    struct Request {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers;  // lower-case names
        QByteArray body;
    };

    explicit HttpStub(QObject *parent = nullptr);

    bool listen();
    QString baseUrl() const;
    void setMode(Mode mode) { m_mode = mode; }
    const QList<Request> &requests() const { return m_requests; }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer m_server;
    Mode m_mode = Mode::Ok;
    QList<Request> m_requests;
    QMap<QTcpSocket *, QByteArray> m_buffers;
};
