#include "cdpbrowser.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include "support/testsupport.h"

CdpBrowser::CdpBrowser() {
    QObject::connect(&socket_, &QWebSocket::textMessageReceived, &socket_, [this](const QString &text) {
        const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
        replies_.insert(m.value("id").toInt(), m);  // events, without one, under 0, which no call uses
    });
}

QString CdpBrowser::chromiumPath() {
    return QFileInfo::exists("/usr/bin/chromium") ? "/usr/bin/chromium" : "";
}

bool CdpBrowser::launch(int width, int height, QString *error, const QString &languages) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // The flags keep Chromium from reaching for any network but the test's.
    process_.start(chromiumPath(),
                   {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--disable-default-apps", "--disable-extensions", "--metrics-recording-only",
                    "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
                    QString("--window-size=%1,%2").arg(width).arg(height), "--accept-lang=" + languages,
                    "--user-data-dir=" + profile_.path(), "about:blank"});
    QString endpoint;
    const auto found = [&] {
        endpoint = QRegularExpression("DevTools listening on (ws://\\S+)").match(output()).captured(1);
        return !endpoint.isEmpty() || process_.state() == QProcess::NotRunning;
    };
    if (testsupport::waitUntil(found, 30000) && !endpoint.isEmpty())
        socket_.open(QUrl(endpoint));
    if (!testsupport::waitUntil([this] { return socket_.state() == QAbstractSocket::ConnectedState; },
                                10000)) {
        *error = "no DevTools connection: " + output();
        return false;
    }
    const QJsonObject target = call("Target.createTarget", {{"url", "about:blank"}}, false);
    const QJsonObject attached =
        call("Target.attachToTarget", {{"targetId", target.value("targetId")}, {"flatten", true}}, false);
    sessionId_ = attached.value("sessionId").toString();
    if (sessionId_.isEmpty() || call("Page.enable").contains("error") ||
        call("Runtime.enable").contains("error")) {
        *error = "no page session: " + QString::fromUtf8(QJsonDocument(attached).toJson());
        return false;
    }
    return true;
}

bool CdpBrowser::navigate(const QString &url) {
    const QJsonObject r = call("Page.navigate", {{"url", url}});
    const auto loaded = [this] { return evaluate("document.readyState").toString() == "complete"; };
    return !r.contains("error") && !r.contains("errorText") && testsupport::waitUntil(loaded, 15000);
}

QJsonObject CdpBrowser::call(const QString &method, const QJsonObject &params, bool onPage, int timeoutMs) {
    const int id = nextId_++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (onPage)
        message.insert("sessionId", sessionId_);
    socket_.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    testsupport::waitUntil(
        [&] { return replies_.contains(id) || socket_.state() != QAbstractSocket::ConnectedState; },
        timeoutMs);
    const QJsonObject reply = replies_.take(id);
    if (reply.isEmpty())
        return {{"error", QString("no reply to %1").arg(method)}};
    return reply.contains("error") ? QJsonObject{{"error", reply.value("error")}}
                                   : reply.value("result").toObject();
}

QJsonValue CdpBrowser::evaluate(const QString &expression, int timeoutMs) {
    const QJsonObject params{{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}};
    const QJsonObject r = call("Runtime.evaluate", params, true, timeoutMs);
    const bool failed = r.contains("exceptionDetails") || r.contains("error");
    return failed ? QJsonValue(QJsonValue::Undefined) : r.value("result").toObject().value("value");
}

QString CdpBrowser::output() {
    output_ += process_.readAll();
    return QString::fromUtf8(output_.right(4000));
}

void CdpBrowser::close() {
    // Closed from inside, every helper process of the browser ends before the main one.
    if (socket_.state() == QAbstractSocket::ConnectedState)
        call("Browser.close", {}, false, 5000);
    socket_.abort();
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(10000))
        process_.kill();
}
