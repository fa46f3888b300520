#include "cdpbrowser.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include "support/testsupport.h"

CdpBrowser::CdpBrowser() {
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &CdpBrowser::onText);
}

CdpBrowser::~CdpBrowser() {
    close();
}

QString CdpBrowser::chromiumPath() {
    return QFileInfo::exists("/usr/bin/chromium") ? "/usr/bin/chromium" : QString();  // Debian's package
}

bool CdpBrowser::launch(int width, int height, QString *error) {
    m_output.clear();  // a browser launched before said where it listened too
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
    const auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };
    const QRegularExpression listening("DevTools listening on (ws://\\S+)");
    QString endpoint;
    testsupport::waitUntil(
        [&] {
            m_output += m_process->readAll();
            endpoint = listening.match(QString::fromUtf8(m_output)).captured(1);
            return !endpoint.isEmpty() || m_process->state() == QProcess::NotRunning;
        },
        30000);
    if (endpoint.isEmpty())
        return fail("no DevTools endpoint: " + QString::fromUtf8(m_output.right(2000)));
    m_socket.open(QUrl(endpoint));
    if (!testsupport::waitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                                10000))
        return fail("DevTools socket did not open");
    const QJsonObject target = call("Target.createTarget", {{"url", "about:blank"}}, false);
    const QJsonObject attached =
        call("Target.attachToTarget", {{"targetId", target.value("targetId")}, {"flatten", true}}, false);
    m_sessionId = attached.value("sessionId").toString();
    if (m_sessionId.isEmpty())
        return fail("no page session: " + QString::fromUtf8(QJsonDocument(attached).toJson()));
    call("Page.enable");
    call("Runtime.enable");
    return true;
}

bool CdpBrowser::navigate(const QString &url) {
    const QJsonObject r = call("Page.navigate", {{"url", url}});
    return !r.contains("error") && !r.contains("errorText") &&
           testsupport::waitUntil([this] { return evaluate("document.readyState").toString() == "complete"; },
                                  15000);
}

QJsonObject CdpBrowser::call(const QString &method, const QJsonObject &params, bool onPage, int timeoutMs) {
    const int id = m_nextId++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (onPage)
        message.insert("sessionId", m_sessionId);
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    testsupport::waitUntil(
        [&] { return m_replies.contains(id) || m_socket.state() != QAbstractSocket::ConnectedState; },
        timeoutMs);
    if (!m_replies.contains(id))
        return {{"error", QString("no reply to %1").arg(method)}};
    const QJsonObject reply = m_replies.take(id);
    return reply.contains("error") ? QJsonObject{{"error", reply.value("error")}}
                                   : reply.value("result").toObject();
}

QJsonValue CdpBrowser::evaluate(const QString &expression, int timeoutMs) {
    const QJsonObject r =
        call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, true, timeoutMs);
    const bool failed = r.contains("exceptionDetails") || r.contains("error");
    return failed ? QJsonValue(QJsonValue::Undefined) : r.value("result").toObject().value("value");
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
    // Closed from inside, every helper process of the browser ends before the main one.
    const bool closing = m_process && m_socket.state() == QAbstractSocket::ConnectedState;
    if (closing)
        call("Browser.close", {}, false, 5000);
    m_socket.abort();
    if (m_process && !(closing && m_process->waitForFinished(10000))) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
    m_process.reset();
    m_profile.reset();
}
