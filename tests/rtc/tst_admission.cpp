// "Ask before someone watches" on the namespace LAN: a zushare-cli host on host 1 asks on its
// standard input before each member watches; zushare-cli attendees on hosts 2 and 3 wait, are let
// in or refused, in the order they came, and get neither picture nor file while they wait.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "lanmember.h"
#include "support/testlan.h"
#include "support/testsupport.h"

namespace {

constexpr int kJoinMs = 60000;

}  // namespace

class AdmissionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void waitingMembersAreAskedInTurn();
    void aMemberLetInComesBackUnasked();

private:
    Member *startWatcher(int host, const QString &name);
    // The host's questions so far, as "nickname address kind".
    QStringList questions();
    void answer(const QByteArray &line) { m_host->process->write(line + "\n"); }

    QTemporaryDir m_dir;
    const QString m_cli = QStringLiteral(ZUSHARE_CLI);
    std::unique_ptr<testsupport::TestLan> m_lan;
    std::vector<std::unique_ptr<Member>> m_members;
    Member *m_host = nullptr;
};

Member *AdmissionTest::startWatcher(int host, const QString &name) {
    auto member = std::make_unique<Member>();
    member->name = name;
    member->downloads = m_dir.filePath("downloads-" + name);
    QDir().mkpath(member->downloads);
    member->process = m_lan->start(
        host, m_cli, {"watch", m_lan->address(1), "--nickname", name, "--downloads", member->downloads});
    m_members.push_back(std::move(member));
    return m_members.back().get();
}

QStringList AdmissionTest::questions() {
    m_host->pump();
    QStringList asked;
    QRegularExpressionMatchIterator it =
        QRegularExpression("waiting \\S+ (\\S+ \\S+ \\S+) \\(\\d+ waiting\\): admit\\?")
            .globalMatch(m_host->output);
    while (it.hasNext())
        asked << it.next().captured(1);
    return asked;
}

void AdmissionTest::initTestCase() {
    ZU_REQUIRE_TEST_NAMESPACE();
    QVERIFY(m_dir.isValid());
    m_lan = std::make_unique<testsupport::TestLan>(3);
    QVERIFY2(m_lan->isUp(), qPrintable(m_lan->errorString()));
    const QString payload = m_dir.filePath("payload.bin");
    QFile file(payload);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(64 * 1024, 'a')) == 64 * 1024);
    file.close();
    auto host = std::make_unique<Member>();
    host->name = "host";
    host->process = m_lan->start(
        1, m_cli, {"host", "--synthetic", "--fps", "15", "--send", payload, "--admit", "ask", "--no-web"},
        {"HOME=" + m_dir.filePath("host-home")});
    m_members.push_back(std::move(host));
    m_host = m_members.back().get();
    QTRY_VERIFY2_WITH_TIMEOUT(m_host->has("share started") || m_host->ended(), m_host->tail(), kJoinMs);
}

void AdmissionTest::cleanupTestCase() {
    m_members.clear();
    m_lan.reset();
}

void AdmissionTest::waitingMembersAreAskedInTurn() {
    const QString on2 = m_lan->address(2), on3 = m_lan->address(3);
    Member *first = startWatcher(2, "W1");
    QTRY_VERIFY2_WITH_TIMEOUT(questions() == QStringList{"W1 " + on2 + " desktop"}, m_host->tail(), kJoinMs);
    QTRY_VERIFY2_WITH_TIMEOUT(first->has("waiting for the host to let you in"), first->tail(), kJoinMs);
    Member *second = startWatcher(3, "W2");
    QTRY_VERIFY2_WITH_TIMEOUT(second->has("waiting for the host"), second->tail(), kJoinMs);
    Member *third = startWatcher(3, "W3");
    QTRY_VERIFY2_WITH_TIMEOUT(third->has("waiting for the host"), third->tail(), kJoinMs);
    // One question at a time: the later ones wait for the first answer.
    QCOMPARE(questions().size(), 1);
    // Nothing to wait for: what is checked is that nothing comes.
    QTest::qWait(3000);
    for (Member *m : {first, second, third})
        QVERIFY2(m->totalFrames() == 0 && !m->has("receive begin"), m->tail());

    answer("y");
    QTRY_VERIFY2_WITH_TIMEOUT(first->totalFrames() > 15, first->tail() + m_host->tail(), kJoinMs);
    QTRY_VERIFY2_WITH_TIMEOUT(first->has("file saved"), first->tail(), kJoinMs);
    QVERIFY(first->has("let in"));
    QTRY_COMPARE_WITH_TIMEOUT(questions().value(1), "W2 " + on3 + " desktop", kJoinMs);

    // The third leaves while it waits: it is dropped from the queue, so refusing the second asks
    // nothing more.
    third->process->terminate();
    QTRY_VERIFY2_WITH_TIMEOUT(m_host->has("member left") && third->ended(), m_host->tail(), kJoinMs);
    answer("n");
    QTRY_VERIFY2_WITH_TIMEOUT(second->has("stopped") || second->ended(), second->tail(), kJoinMs);
    QCOMPARE(questions().size(), 2);
    QCOMPARE(second->totalFrames(), 0);
    QVERIFY(QDir(second->downloads).isEmpty() && QDir(m_dir.filePath("downloads-W3")).isEmpty());
    QVERIFY2(first->totalFrames() > 15 && !first->has("stopped"), first->tail());
}

void AdmissionTest::aMemberLetInComesBackUnasked() {
    Member *first = m_members[1].get();
    first->process->terminate();
    QTRY_VERIFY(first->ended());
    Member *again = startWatcher(2, "W1");
    QTRY_VERIFY2_WITH_TIMEOUT(again->totalFrames() > 15, again->tail() + m_host->tail(), kJoinMs);
    QCOMPARE(questions().size(), 2);
    // The same nickname from another address is someone else: asked.
    Member *other = startWatcher(3, "W1");
    QTRY_COMPARE_WITH_TIMEOUT(questions().value(2), "W1 " + m_lan->address(3) + " desktop", kJoinMs);
    answer("a");
    QTRY_VERIFY2_WITH_TIMEOUT(other->totalFrames() > 15, other->tail() + m_host->tail(), kJoinMs);
}

QTEST_GUILESS_MAIN(AdmissionTest)
#include "tst_admission.moc"
