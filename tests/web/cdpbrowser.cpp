#include "cdpbrowser.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

CdpBrowser::CdpBrowser() {
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &CdpBrowser::onText);
}

CdpBrowser::~CdpBrowser() {
    close();
}

QString CdpBrowser::chromiumPath() {
    for (const char *p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (QFileInfo::exists(p))
            return p;
    return {};
}

bool CdpBrowser::launch(int width, int height, QString *error) {
    // A browser launched before says where it listened too.
    m_output.clear();
    m_replies.clear();
    m_sessionId.clear();
    m_profile = std::make_unique<QTemporaryDir>();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The flags keep Chromium from reaching for any network but the test's.
    m_process->start(chromiumPath(),
                     {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--disable-default-apps", "--disable-extensions", "--metrics-recording-only",
                      "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
                      QString("--window-size=%1,%2").arg(width).arg(height),
                      "--user-data-dir=" + m_profile->path(), "about:blank"});
    if (!m_process->waitForStarted(10000)) {
        *error = "chromium did not start";
        return false;
    }
    const QRegularExpression listening("DevTools listening on (ws://\\S+)");
    QElapsedTimer clock;
    clock.start();
    QString endpoint;
    while (endpoint.isEmpty() && clock.elapsed() < 30000 && m_process->state() == QProcess::Running) {
        m_process->waitForReadyRead(200);
        m_output += m_process->readAll();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch())
            endpoint = match.captured(1);
    }
    if (endpoint.isEmpty()) {
        *error = "no DevTools endpoint: " + QString::fromUtf8(m_output.right(2000));
        return false;
    }
    QEventLoop loop;
    connect(&m_socket, &QWebSocket::connected, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    m_socket.open(QUrl(endpoint));
    loop.exec();
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        *error = "DevTools socket did not open";
        return false;
    }
    const QJsonObject target = call("Target.createTarget", {{"url", "about:blank"}}, false);
    const QJsonObject attached =
        call("Target.attachToTarget", {{"targetId", target.value("targetId")}, {"flatten", true}}, false);
    m_sessionId = attached.value("sessionId").toString();
    if (m_sessionId.isEmpty()) {
        *error = "no page session: " + QString::fromUtf8(QJsonDocument(attached).toJson());
        return false;
    }
    call("Page.enable");
    call("Runtime.enable");
    return true;
}

bool CdpBrowser::navigate(const QString &url) {
    const QJsonObject r = call("Page.navigate", {{"url", url}});
    if (r.contains("error") || r.contains("errorText"))
        return false;
    // Wait for the document to be there with its scripts run.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000) {
        if (evaluate("document.readyState").toString() == "complete")
            return true;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

QJsonObject CdpBrowser::call(const QString &method, const QJsonObject &params, bool onPage, int timeoutMs) {
    const int id = m_nextId++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (onPage)
        message.insert("sessionId", m_sessionId);
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    QElapsedTimer clock;
    clock.start();
    while (!m_replies.contains(id) && clock.elapsed() < timeoutMs &&
           m_socket.state() == QAbstractSocket::ConnectedState) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!m_replies.contains(id))
        return {{"error", QString("no reply to %1").arg(method)}};
    const QJsonObject reply = m_replies.take(id);
    if (reply.contains("error"))
        return {{"error", reply.value("error")}};
    return reply.value("result").toObject();
}

QJsonValue CdpBrowser::evaluate(const QString &expression, int timeoutMs) {
    const QJsonObject r =
        call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, true, timeoutMs);
    if (r.contains("exceptionDetails") || r.contains("error"))
        return QJsonValue(QJsonValue::Undefined);
    return r.value("result").toObject().value("value");
}

void CdpBrowser::onText(const QString &text) {
    const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
    if (m.contains("id"))
        m_replies.insert(m.value("id").toInt(), m);
}

QString CdpBrowser::output() {
    if (m_process)
        m_output += m_process->readAll();
    return QString::fromUtf8(m_output.right(4000));
}

void CdpBrowser::close() {
    if (m_process && m_socket.state() == QAbstractSocket::ConnectedState) {
        // Closed from inside, every helper process of the browser ends before the main one.
        call("Browser.close", {}, false, 5000);
        m_process->waitForFinished(10000);
    }
    m_socket.abort();
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
        m_process.reset();
    }
    m_profile.reset();
}
