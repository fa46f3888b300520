#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QWebSocket>
#include <memory>

// Headless Chromium driven over its DevTools protocol: one page, commands answered synchronously
// (a local event loop runs while waiting, so the test's own sockets keep working meanwhile).
class CdpBrowser : public QObject {
    Q_OBJECT
public:
    CdpBrowser();
    ~CdpBrowser() override;

    static QString chromiumPath();

    // Starts the browser with a fresh profile and a window of this size, and opens one page.
    bool launch(int width, int height, QString *error);
    bool navigate(const QString &url);
    // The result of a command, or an object with "error" when it failed or timed out.
    QJsonObject call(const QString &method, const QJsonObject &params = {}, bool onPage = true,
                     int timeoutMs = 15000);
    // Evaluates an expression in the page (promises awaited) and returns its value.
    QJsonValue evaluate(const QString &expression, int timeoutMs = 15000);
    QString output();
    void close();

private:
    void onText(const QString &text);

    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_profile;
    QWebSocket m_socket;
    QString m_sessionId;
    int m_nextId = 1;
    QHash<int, QJsonObject> m_replies;
    QByteArray m_output;
};
