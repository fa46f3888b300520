#include "report/reportmanager.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <unistd.h>
#include <algorithm>
#include <vector>

#include "core/jsontext.h"
#include "core/logger.h"
#include "report/reportform.h"
#include "report/reportlog.h"

#ifndef ZUSHARE_REPORT_URL
#define ZUSHARE_REPORT_URL ""
#endif

Q_LOGGING_CATEGORY(lcReport, "zushare.report")

// Shared between the manager and its tasks, so that cancelling never needs the manager itself.
struct ReportManager::TaskState {
    QMutex mutex;
    bool cancelled = false;
    std::vector<QEventLoop *> loops;
};

namespace {

constexpr const char *kLastReportKey = "last_report_time";
// The state is a few dozen bytes; what is longer is not ours to read whole.
constexpr qint64 kMaxStateBytes = 4096;

// The state lives in the shared temporary folder, where another local user may have made the folder
// or put a link at the file's name: the report is then off for this run rather than written through.
bool stateIsOurs(const QString &path) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    const uint me = ::getuid();
    if (folder.isSymLink() || !folder.isDir() || folder.ownerId() != me || file.isSymLink() ||
        (file.exists() && file.ownerId() != me)) {
        g_logger->warn("usage report: \"{}\" is a link or belongs to another user; no report this run",
                       path.toStdString());
        return false;
    }
    return true;
}

qint64 readLastDay(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return ReportManager::lastReportDay(file.read(kMaxStateBytes));
}

void writeLastDay(const QString &path, qint64 day) {
    Json::Value root(Json::objectValue);
    root[kLastReportKey] = Json::Int64(day);
    const std::string text = jsontext::write(root);
    // A whole new file or the old one: an interrupted write must not leave half a file behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        qCDebug(lcReport) << "report state not written:" << path << file.errorString();
    }
}

}  // namespace

qint64 ReportManager::lastReportDay(const QByteArray &stateText) {
    Json::Value root;
    if (!jsontext::parse(stateText.constData(), stateText.constData() + stateText.size(), root) ||
        !root.isObject()) {
        return 0;
    }
    const Json::Value &day = root[kLastReportKey];
    return day.isInt64() ? day.asInt64() : 0;
}

namespace {

void runReport(const QString &configPath, const QString &url, int timeoutMs,
               const std::shared_ptr<ReportManager::TaskState> &state) {
    {
        QMutexLocker lock(&state->mutex);
        if (state->cancelled) {
            return;
        }
    }
    if (!stateIsOurs(configPath)) {
        return;
    }
    const qint64 lastDay = readLastDay(configPath);
    const qint64 today = ReportForm::dayNumber(QDateTime::currentDateTime());
    if (today == lastDay) {
        return;
    }
    const ReportForm form = ReportForm::collect();
    qCDebug(lcReport) << "report time:" << form.time;

    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(timeoutMs);
    QEventLoop loop;
    {
        QMutexLocker lock(&state->mutex);
        if (state->cancelled) {
            return;
        }
        state->loops.push_back(&loop);
    }
    QNetworkReply *reply = network.post(request, form.body());
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // Backstop in case the transfer time-out never fires (a stalled name lookup, for instance).
    QTimer::singleShot(timeoutMs + 2000, &loop, &QEventLoop::quit);
    loop.exec();
    {
        QMutexLocker lock(&state->mutex);
        state->loops.erase(std::remove(state->loops.begin(), state->loops.end(), &loop), state->loops.end());
    }
    if (!reply->isFinished()) {
        reply->abort();
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = reply->error() != QNetworkReply::NoError || !reply->isFinished();
    if (failed) {
        qCDebug(lcReport, "report http error: %d %d", status, static_cast<int>(reply->error()));
    }
    qCDebug(lcReport) << "report response:" << (reply->isOpen() ? reply->readAll() : QByteArray());
    delete reply;
    if (!failed) {
        writeLastDay(configPath, today);
    }
}

}  // namespace

ReportManager::ReportManager(QObject *parent)
    : ReportManager(defaultConfigPath(), defaultBaseUrl(), parent) {}

ReportManager::ReportManager(const QString &configPath, const QString &baseUrl, QObject *parent)
    : QObject(parent), configPath_(configPath.toUtf8()), state_(std::make_shared<TaskState>()) {
    if (baseUrl.isEmpty()) {
        return;
    }
    const QUrl base(baseUrl);
    if (!base.isValid() ||
        (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")) ||
        base.host().isEmpty()) {
        qCDebug(lcReport) << "report off: not an HTTP address:" << baseUrl;
        return;
    }
    QString trimmed = baseUrl;
    while (trimmed.endsWith(QLatin1Char('/'))) {
        trimmed.chop(1);
    }
    reportUrl_ = QStringLiteral("%1/prod/%2/useReport/v1?").arg(trimmed, QStringLiteral("zuScreenShare"));
    const QString folder = QFileInfo(configPath).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCDebug(lcReport) << "report folder not created:" << folder;
    }
}

ReportManager::~ReportManager() {
    {
        QMutexLocker lock(&state_->mutex);
        state_->cancelled = true;
        for (QEventLoop *loop : state_->loops) {
            QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
        }
    }
    tasks_.waitForFinished();
}

QFuture<void> ReportManager::report() {
    if (!enabled()) {
        qCDebug(lcReport) << "report off: no report server configured";
        return {};
    }
    QFuture<void> future =
        QtConcurrent::run(runReport, QString::fromUtf8(configPath_), reportUrl_, timeoutMs_, state_);
    tasks_.addFuture(future);
    return future;
}

void ReportManager::setRequestTimeout(int milliseconds) {
    timeoutMs_ = milliseconds > 0 ? milliseconds : kDefaultTimeoutMs;
}

bool ReportManager::enabled() const {
    return !reportUrl_.isEmpty();
}

QString ReportManager::configPath() const {
    return QString::fromUtf8(configPath_);
}

QString ReportManager::reportUrl() const {
    return reportUrl_;
}

QString ReportManager::defaultConfigPath() {
    return QDir::tempPath() + QStringLiteral("/zuScreenShare/config.json");
}

QString ReportManager::defaultBaseUrl() {
    return QString::fromUtf8(ZUSHARE_REPORT_URL);
}
