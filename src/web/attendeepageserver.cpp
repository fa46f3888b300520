#include "web/attendeepageserver.h"

#include <microhttpd.h>
#include <pthread.h>
#include <sys/socket.h>

#include <QFile>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <cstdarg>
#include <cstring>

#include "core/logger.h"

static void initPageResources() {
    // The resources live in a static library; this reference keeps them in the program.
    Q_INIT_RESOURCE(attendeepage);
}

Q_LOGGING_CATEGORY(lcWeb, "zushare.web")

namespace {

// Assets are small and few; the limits keep one device from holding every connection.
constexpr unsigned kConnectionLimit = 64;
constexpr unsigned kPerAddressLimit = 16;
constexpr unsigned kConnectionTimeoutSeconds = 15;
constexpr int kSweepMs = 1000;

const char *const kAssetNames[] = {"index.html",   "attendee.js", "transfer.js",
                                   "attendee.css", "icon.svg",    "md5.js"};

QByteArray contentTypeOf(const QByteArray &name) {
    if (name.endsWith(".html"))
        return "text/html; charset=utf-8";
    if (name.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (name.endsWith(".css"))
        return "text/css; charset=utf-8";
    if (name.endsWith(".svg"))
        return "image/svg+xml";
    return "application/octet-stream";
}

const char kNotFound[] = "not found\n";
const char kNotAllowed[] = "method not allowed\n";
// The page talks to the signaling port of the same host; nothing else is fetched or embedded.
const char kSecurityPolicy[] =
    "default-src 'self'; connect-src 'self' ws:; media-src 'self' blob:; "
    "img-src 'self' data: blob:; object-src 'none'; frame-ancestors 'none'; "
    "base-uri 'none'; form-action 'none'";

void logDaemonMessage(void *, const char *format, va_list args) {
    char line[512];
    vsnprintf(line, sizeof line, format, args);
    qCDebug(lcWeb) << "AttendeePageServer:" << line;
}

}  // namespace

struct AttendeePageServer::Callbacks {
    static MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                const char *, const char *, size_t *uploadDataSize, void **) {
        // A body, if any, is not wanted: the answer goes out at once and the rest is discarded.
        if (uploadDataSize)
            *uploadDataSize = 0;
        return static_cast<AttendeePageServer *>(cls)->answer(connection, url, method) ? MHD_YES : MHD_NO;
    }

    static void onConnection(void *cls, MHD_Connection *connection, void **,
                             MHD_ConnectionNotificationCode code) {
        auto *self = static_cast<AttendeePageServer *>(cls);
        // The library starts its thread unnamed; the first connection names it.
        static thread_local const bool named = pthread_setname_np(pthread_self(), "zu-page-server") == 0;
        (void)named;
        std::lock_guard<std::mutex> lock(self->openLock_);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info)
                self->open_[connection] = Open{info->connect_fd, self->clock_.elapsed()};
        } else {
            // Told before the library closes the socket, so the sweep never touches a reused number.
            self->open_.erase(connection);
        }
    }
};

AttendeePageServer::AttendeePageServer(quint16 port, QObject *parent) : QObject(parent), port_(port) {
    initPageResources();
    clock_.start();
    sweep_.setInterval(kSweepMs);
    connect(&sweep_, &QTimer::timeout, this, &AttendeePageServer::closeOverdue);
}

void AttendeePageServer::closeOverdue() {
    // The library only knows an inactivity time-out, which a client sending a byte now and then
    // never reaches; a page and its assets take milliseconds, so no connection needs longer.
    std::lock_guard<std::mutex> lock(openLock_);
    const qint64 now = clock_.elapsed();
    for (auto it = open_.begin(); it != open_.end();) {
        if (now - it->second.sinceMs > kRequestDeadlineSeconds * 1000) {
            qCDebug(lcWeb) << "AttendeePageServer: a connection went over" << kRequestDeadlineSeconds
                           << "s, closed";
            ::shutdown(it->second.fd, SHUT_RDWR);
            it = open_.erase(it);  // the library closes it; its notification then finds nothing
        } else {
            ++it;
        }
    }
}

AttendeePageServer::~AttendeePageServer() {
    stop();
}

void AttendeePageServer::loadAssets() {
    if (!assets_.isEmpty())
        return;
    for (const char *name : kAssetNames) {
        QFile file(QStringLiteral(":/web/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly)) {
            g_logger->error("attendee page asset {} is missing from the resources", name);
            continue;
        }
        assets_.insert(QByteArray("/") + name, Asset{file.readAll(), contentTypeOf(name)});
    }
    if (assets_.contains("/index.html"))
        assets_.insert("/", assets_.value("/index.html"));
}

bool AttendeePageServer::start() {
    if (daemon_)
        return true;
    loadAssets();
    served_ = 0;
    notFound_ = 0;
    const unsigned flags = MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    daemon_ = MHD_start_daemon(
        // The logger goes first so that the daemon's complaints about later options reach our log.
        flags, port_, nullptr, nullptr, &Callbacks::onRequest, this, MHD_OPTION_EXTERNAL_LOGGER,
        &logDaemonMessage, nullptr, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, kPerAddressLimit, MHD_OPTION_CONNECTION_TIMEOUT,
        kConnectionTimeoutSeconds, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::onConnection, this,
        MHD_OPTION_END);
    if (!daemon_) {
        g_logger->warn("the attendee page server could not listen on port {}", port_);
        g_logger->flush();
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    boundPort_ = info ? info->port : port_;
    g_logger->info("attendee page served on port {}", boundPort_);
    sweep_.start();
    return true;
}

void AttendeePageServer::stop() {
    if (!daemon_)
        return;
    // Joins the library's thread; no request is answered after this returns.
    sweep_.stop();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    boundPort_ = 0;
    g_logger->info("attendee page server stopped");
}

int AttendeePageServer::answer(MHD_Connection *connection, const char *url, const char *method) {
    const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    const auto it = assets_.constFind(QByteArray(url ? url : ""));
    unsigned status = MHD_HTTP_OK;
    MHD_Response *response = nullptr;
    if (!get && !head) {
        status = MHD_HTTP_METHOD_NOT_ALLOWED;
        response = MHD_create_response_from_buffer(sizeof kNotAllowed - 1, const_cast<char *>(kNotAllowed),
                                                   MHD_RESPMEM_PERSISTENT);
        if (response)
            MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    } else if (it == assets_.constEnd()) {
        status = MHD_HTTP_NOT_FOUND;
        ++notFound_;
        response = MHD_create_response_from_buffer(sizeof kNotFound - 1, const_cast<char *>(kNotFound),
                                                   MHD_RESPMEM_PERSISTENT);
    } else {
        // The table does not change while the daemon runs, so its bytes may be handed over as is.
        response =
            MHD_create_response_from_buffer(static_cast<size_t>(it->body.size()),
                                            const_cast<char *>(it->body.constData()), MHD_RESPMEM_PERSISTENT);
        if (response) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, it->contentType.constData());
            MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
            MHD_add_response_header(response, "Content-Security-Policy", kSecurityPolicy);
        }
    }
    if (!response)
        return false;
    if (status != MHD_HTTP_OK)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    ++served_;
    return queued == MHD_YES;
}

QString AttendeePageServer::url() const {
    return url(lanAddress());
}

QString AttendeePageServer::url(const QString &address) const {
    return QStringLiteral("http://%1:%2/").arg(address).arg(boundPort_ ? boundPort_ : port_);
}

QString AttendeePageServer::lanAddress() {
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &netif : interfaces) {
        const auto flags = netif.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = netif.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString();
        }
    }
    return {};
}
