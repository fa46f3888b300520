#pragma once

#include <QHash>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>

// Headless Chromium over DevTools, launched once, with one page; a call waits for its answer.
class CdpBrowser {
public:
    CdpBrowser();
    ~CdpBrowser() { close(); }

    static QString chromiumPath();  // Debian's package, or empty
    // Starts the browser with a fresh profile and a window of this size, and opens one page; the
    // browser prefers the given languages (Accept-Language's form), the page's own by default.
    bool launch(int width, int height, QString *error, const QString &languages = QStringLiteral("zh-CN"));
    bool navigate(const QString &url);
    // The result of a command, or an object with "error" when it failed or timed out.
    QJsonObject call(const QString &method, const QJsonObject &params = {}, bool onPage = true,
                     int timeoutMs = 15000);
    // Evaluates an expression in the page (promises awaited) and returns its value.
    QJsonValue evaluate(const QString &expression, int timeoutMs = 15000);
    QString output();
    void close();

private:
    QTemporaryDir profile_;
    QProcess process_;  // its destructor waits for a killed browser
    QWebSocket socket_;
    QString sessionId_;
    int nextId_ = 1;
    QHash<int, QJsonObject> replies_;
    QByteArray output_;
};
