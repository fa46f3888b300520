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
    holder_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder_.start(QStringLiteral(ZU_NETLAN_SCRIPT), args);
    if (!holder_.waitForStarted(10000)) {
        error_ = QStringLiteral("cannot start netlan.sh: %1").arg(holder_.errorString());
        return;
    }
    QStringList names;
    QList<QStringList> addresses;
    while (true) {
        while (!holder_.canReadLine()) {
            if (!holder_.waitForReadyRead(20000)) {
                error_ = QStringLiteral("netlan.sh ended or stalled before the LAN was ready");
                return;
            }
        }
        const QString line = QString::fromUtf8(holder_.readLine()).trimmed();
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
        error_ = QStringLiteral("netlan.sh described %1 hosts of %2").arg(names.size()).arg(hosts);
        return;
    }
    netns_ = names;
    addresses_ = addresses;
    up_ = true;
}

TestLan::~TestLan() {
    for (auto &process : processes_) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    processes_.clear();
    if (holder_.state() != QProcess::NotRunning) {
        // End of stdin is the holder's sign to remove the namespaces.
        holder_.closeWriteChannel();
        if (!holder_.waitForFinished(20000)) {
            holder_.terminate();
            holder_.waitForFinished(10000);
        }
    }
}

QString TestLan::netns(int host) const {
    return host >= 1 && host <= netns_.size() ? netns_[host - 1] : QString();
}

QString TestLan::address(int host) const {
    return host >= 1 && host <= addresses_.size() ? addresses_[host - 1].value(0) : QString();
}

TestLan::Enter::Enter(const TestLan &lan, int host) {
    const QString name = lan.netns(host);
    if (name.isEmpty()) {
        return;
    }
    saved_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(QByteArray("/run/netns/" + name.toUtf8()).constData(), O_RDONLY | O_CLOEXEC);
    if (saved_ >= 0 && target >= 0) {
        ok_ = ::setns(target, CLONE_NEWNET) == 0;
    }
    if (target >= 0) {
        ::close(target);
    }
}

TestLan::Enter::~Enter() {
    if (saved_ >= 0) {
        if (ok_) {
            (void)::setns(saved_, CLONE_NEWNET);
        }
        ::close(saved_);
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
    processes_.push_back(std::move(process));
    return raw;
}

}  // namespace testsupport
