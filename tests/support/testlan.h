#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace testsupport {

// A throw-away LAN of network namespaces made by tests/support/netlan.sh (see its head). Host h
// (1 to 4) has the address 10.77.S.h on each of its subnets S; its first subnet carries the default
// route. The LAN lives as long as this object; it is also removed when the test process dies,
// since the holding script ends when its stdin closes.
//
//   testsupport::TestLan lan(3);                  // three hosts on 10.77.1.0/24
//   testsupport::TestLan lan(2, {{2, {1, 2}}});   // host 2 also on 10.77.2.0/24
//   {
//       testsupport::TestLan::Enter in(lan, 1);   // this thread now in host 1
//       server = std::make_shared<ScanServer>();  // its worker thread and sockets stay in host 1
//   }
//   QProcess *p = lan.start(2, program, args);    // a program in host 2, ended with the LAN
class TestLan {
public:
    explicit TestLan(int hosts = 2, const QMap<int, QList<int>> &subnets = {});
    ~TestLan();
    TestLan(const TestLan &) = delete;
    TestLan &operator=(const TestLan &) = delete;

    bool isUp() const { return up_; }
    QString errorString() const { return error_; }
    int hostCount() const { return netns_.size(); }
    // The namespace name, usable with `ip netns exec` and /run/netns/<name>.
    QString netns(int host) const;
    // The host's address on its first subnet.
    QString address(int host) const;

    // While it exists, the calling thread is in the host's network namespace: sockets it opens
    // and threads it starts (QThread included) belong to that host for their whole life.
    class Enter {
    public:
        Enter(const TestLan &lan, int host);
        ~Enter();
        Enter(const Enter &) = delete;
        Enter &operator=(const Enter &) = delete;
        bool ok() const { return ok_; }

    private:
        int saved_ = -1;
        bool ok_ = false;
    };

    // Starts a program in a host with its output merged and kept; the LAN ends it (SIGTERM, then
    // SIGKILL) when it is destroyed. Returns null when the host does not exist.
    QProcess *start(int host, const QString &program, const QStringList &arguments,
                    const QStringList &extraEnvironment = {});

private:
    bool up_ = false;
    QString error_;
    QProcess holder_;
    QStringList netns_;
    QList<QStringList> addresses_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

}  // namespace testsupport
