#pragma once

// A LAN of network namespaces, a folder, and the programs the session tests run on its hosts.

#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "lanmember.h"
#include "support/testlan.h"

struct SessionLan {
    QTemporaryDir dir;
    std::unique_ptr<testsupport::TestLan> lan;
    std::vector<std::unique_ptr<Member>> members;

    bool up(int hosts) {
        lan = std::make_unique<testsupport::TestLan>(hosts);
        return dir.isValid() && lan->isUp();
    }
    void stop() {
        for (auto &member : members) {
            if (!member->ended()) {
                member->process->terminate();
                member->process->waitForFinished(10000);
            }
        }
        members.clear();
    }
    QString address(int host) const { return lan->address(host); }
    Member *start(int host, const QString &name, const QStringList &args, const QStringList &env = {},
                  const QString &program = QStringLiteral(ZUSHARE_CLI)) {
        members.push_back(
            std::make_unique<Member>(Member{lan->start(host, program, args, env), name, {}, {}}));
        return members.back().get();
    }
    // An attendee of the share on host 1 that saves files in a folder of its own.
    Member *watch(int host, const QString &name, const QStringList &extra = {}) {
        const QString downloads = dir.filePath("downloads-" + name);
        QDir().mkpath(downloads);
        Member *member =
            start(host, name,
                  QStringList{"watch", address(1), "--nickname", name, "--downloads", downloads} + extra);
        member->downloads = downloads;
        return member;
    }
    QString write(const QString &name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? file.fileName()
                                                                                        : QString();
    }
};

// Whether the member printed text within ms, or before it ended.
inline bool says(Member *member, const QString &text, int ms) {
    testsupport::waitUntil([&] { return member->has(text) || member->ended(); }, ms);
    return member->has(text);
}
