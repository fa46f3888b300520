#include "testlan.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QProcessEnvironment>

namespace testsupport {

TestLan::TestLan(int hosts, const QMap<int, QList<int>> &subnets) {
    QStringList args{QStringLiteral("hold"), QStringLiteral("--hosts"), QString::number(hosts)};
    for (auto it = subnets.cbegin(); it != subnets.cend(); ++it) {
        QStringList nets;
        for (int s : it.value()) {
            nets << QString::number(s);
        }
        args << QStringLiteral("--net")
             << QStringLiteral("%1=%2").arg(it.key()).arg(nets.join(QLatin1Char(',')));
    }
    m_holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_holder.start(QStringLiteral(ZU_NETLAN_SCRIPT), args);
    if (!m_holder.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start netlan.sh: %1").arg(m_holder.errorString());
        return;
    }
    QStringList names;
    QList<QStringList> addresses;
    while (true) {
        while (!m_holder.canReadLine()) {
            if (!m_holder.waitForReadyRead(20000)) {
                m_error = QStringLiteral("netlan.sh ended or stalled before the LAN was ready");
                return;
            }
        }
        const QString line = QString::fromUtf8(m_holder.readLine()).trimmed();
        if (line == QLatin1String("ready")) {
            break;
        }
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() >= 4 && fields[0] == QLatin1String("host")) {
            names << fields[2];
            addresses << fields.mid(3);
        }
    }
    if (names.size() != hosts) {
        m_error = QStringLiteral("netlan.sh described %1 hosts of %2").arg(names.size()).arg(hosts);
        return;
    }
    m_netns = names;
    m_addresses = addresses;
    m_up = true;
}

TestLan::~TestLan() {
    for (auto &process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    m_processes.clear();
    if (m_holder.state() != QProcess::NotRunning) {
        // End of stdin is the holder's sign to remove the namespaces.
        m_holder.closeWriteChannel();
        if (!m_holder.waitForFinished(20000)) {
            m_holder.terminate();
            m_holder.waitForFinished(10000);
        }
    }
}

QString TestLan::netns(int host) const {
    return host >= 1 && host <= m_netns.size() ? m_netns[host - 1] : QString();
}

QString TestLan::address(int host) const {
    return host >= 1 && host <= m_addresses.size() ? m_addresses[host - 1].value(0) : QString();
}

TestLan::Enter::Enter(const TestLan &lan, int host) {
    const QString name = lan.netns(host);
    if (name.isEmpty()) {
        return;
    }
    m_saved = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(QByteArray("/run/netns/" + name.toUtf8()).constData(), O_RDONLY | O_CLOEXEC);
    if (m_saved >= 0 && target >= 0) {
        m_ok = ::setns(target, CLONE_NEWNET) == 0;
    }
    if (target >= 0) {
        ::close(target);
    }
}

TestLan::Enter::~Enter() {
    if (m_saved >= 0) {
        if (m_ok) {
            (void)::setns(m_saved, CLONE_NEWNET);
        }
        ::close(m_saved);
    }
}

QProcess *TestLan::start(int host, const QString &program, const QStringList &arguments,
                         const QStringList &extraEnvironment) {
    const QString name = netns(host);
    if (name.isEmpty()) {
        return nullptr;
    }
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : extraEnvironment) {
        const int eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) {
            env.insert(entry.left(eq), entry.mid(eq + 1));
        }
    }
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(QStringLiteral("ip"),
                   QStringList{QStringLiteral("netns"), QStringLiteral("exec"), name, program} + arguments);
    QProcess *raw = process.get();
    m_processes.push_back(std::move(process));
    return raw;
}

}  // namespace testsupport
