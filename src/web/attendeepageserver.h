#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <unordered_map>

struct MHD_Daemon;
struct MHD_Connection;

// Serves the browser attendee's page and its assets, read-only from the program's resources, over
// plain HTTP while a share runs. Requests are answered on the HTTP library's own thread, which
// start() makes and stop() joins; the asset table is filled before that thread runs and never
// changes while it does.
class AttendeePageServer : public QObject {
    Q_OBJECT
public:
    // Beside the signaling port 5678 and the discovery ports 5679 to 5688.
    static constexpr quint16 kPort = 5677;
    // A connection is closed this long after it opened, whatever it sends.
    static constexpr int kRequestDeadlineSeconds = 10;

    explicit AttendeePageServer(quint16 port = kPort, QObject *parent = nullptr);
    ~AttendeePageServer() override;

    // Listens on every IPv4 address; false (and logged) when the port cannot be bound.
    bool start();
    void stop();
    bool isRunning() const { return daemon_ != nullptr; }
    // The port bound (the one asked for, or the one chosen for port 0); 0 while stopped.
    quint16 port() const { return boundPort_; }

    // "http://<address>:<port>/" with the host's first LAN address, or with the one given.
    QString url() const;
    QString url(const QString &address) const;
    // The first up, non-loopback IPv4 address of this machine; "" when there is none.
    static QString lanAddress();

    // Requests answered since start, of which with 404.
    int requestsServed() const { return served_.load(); }
    int requestsNotFound() const { return notFound_.load(); }

private:
    struct Asset {
        QByteArray body;
        QByteArray contentType;
    };

    void loadAssets();
    void closeOverdue();
    struct Callbacks;
    friend struct Callbacks;
    int answer(MHD_Connection *connection, const char *url, const char *method);

    const quint16 port_;
    quint16 boundPort_ = 0;
    MHD_Daemon *daemon_ = nullptr;
    QHash<QByteArray, Asset> assets_;
    std::atomic<int> served_{0};
    std::atomic<int> notFound_{0};

    struct Open {
        int fd = -1;
        qint64 sinceMs = 0;
    };
    QElapsedTimer clock_;
    QTimer sweep_;
    std::mutex openLock_;
    std::unordered_map<MHD_Connection *, Open> open_;  // guarded by openLock_
};
