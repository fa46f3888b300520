#pragma once

#include <QByteArray>
#include <QFuture>
#include <QFutureSynchronizer>
#include <QObject>
#include <QString>

#include <memory>

// Tells the report server once a day that the program was used on this machine. Each report runs on
// a thread of the global pool; the manager waits for its tasks when destroyed, cutting a request in
// flight short, so no task outlives it.
class ReportManager : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 10000;

    // State file under the system temporary folder and the base URL chosen at build time.
    explicit ReportManager(QObject *parent = nullptr);
    // Another state file and server, for tests and embedding. An empty base URL turns reporting off.
    ReportManager(const QString &configPath, const QString &baseUrl, QObject *parent = nullptr);
    ~ReportManager() override;

    ReportManager(const ReportManager &) = delete;
    ReportManager &operator=(const ReportManager &) = delete;

    // Starts one report and returns at once. The future may be ignored.
    QFuture<void> report();

    // Upper bound of one request, from sending to the end of the reply.
    void setRequestTimeout(int milliseconds);

    bool enabled() const;
    QString configPath() const;
    QString reportUrl() const;

    static QString defaultConfigPath();
    static QString defaultBaseUrl();
    // The day of the last report that a state file's text names; 0 for anything else.
    static qint64 lastReportDay(const QByteArray &stateText);

    struct TaskState;

private:
    QByteArray configPath_;
    QString reportUrl_;
    int timeoutMs_ = kDefaultTimeoutMs;
    std::shared_ptr<TaskState> state_;
    QFutureSynchronizer<void> tasks_;
};
