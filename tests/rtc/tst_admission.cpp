// "Ask before someone watches": a zushare-cli host on host 1 asks on its standard input; attendees on
// hosts 2 and 3 wait, are let in or refused in turn, and get neither picture nor file while waiting.

#include <QtTest>
#include <csignal>

#include "sessionlan.h"

constexpr int kJoinMs = 60000;

class AdmissionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ZU_REQUIRE_TEST_NAMESPACE();
        QVERIFY2(lan_.up(3), qPrintable(lan_.lan->errorString()));
        host_ =
            lan_.start(1, "host",
                       {"host", "--synthetic", "--fps", "15", "--send",
                        lan_.write("payload.bin", QByteArray(64 * 1024, 'a')), "--admit", "ask", "--no-web"},
                       {"HOME=" + lan_.dir.filePath("host-home")});
        QVERIFY2(says(host_, "share started", kJoinMs), host_->tail());
    }

    void waitingMembersAreAskedInTurn() {
        Member *first = lan_.watch(2, "W1");
        QTRY_VERIFY2_WITH_TIMEOUT(questions() == QStringList{"W1 " + lan_.address(2) + " desktop"},
                                  host_->tail(), kJoinMs);
        QVERIFY2(says(first, "waiting for the host to let you in", kJoinMs), first->tail());
        // In turn: started together, either could be the first in the queue.
        Member *second = lan_.watch(3, "W2");
        QVERIFY2(says(second, "waiting for the host", kJoinMs), second->tail());
        Member *third = lan_.watch(3, "W3");
        QVERIFY2(says(third, "waiting for the host", kJoinMs), third->tail());
        // One question at a time: the later ones wait for the first answer.
        QCOMPARE(questions().size(), 1);
        QTest::qWait(3000);  // what is checked is that nothing comes
        for (Member *m : {first, second, third}) {
            QVERIFY2(m->totalFrames() == 0 && !m->has("receive begin"), m->tail());
        }

        host_->process->write("y\n");
        QTRY_VERIFY2_WITH_TIMEOUT(first->totalFrames() > 15, first->tail() + host_->tail(), kJoinMs);
        QVERIFY2(says(first, "file saved", kJoinMs) && first->has("let in"), first->tail());
        QTRY_COMPARE_WITH_TIMEOUT(questions().value(1), "W2 " + lan_.address(3) + " desktop", kJoinMs);

        // The third leaves while it waits: dropped from the queue, so refusing the second asks nothing more.
        third->process->terminate();
        QTRY_VERIFY2_WITH_TIMEOUT(host_->has("member left") && third->ended(), host_->tail(), kJoinMs);
        host_->process->write("n\n");
        QTRY_VERIFY2_WITH_TIMEOUT(second->has("stopped") || second->ended(), second->tail(), kJoinMs);
        QCOMPARE(questions().size(), 2);
        QCOMPARE(second->totalFrames(), 0);
        QVERIFY(QDir(second->downloads).isEmpty() && QDir(third->downloads).isEmpty());
        QVERIFY2(first->totalFrames() > 15 && !first->has("stopped"), first->tail());
    }

    // A member let in comes back unasked; Ctrl-C then ends the host cleanly and stops its attendees.
    void aMemberLetInComesBackUnaskedUntilCtrlC() {
        lan_.members[1]->process->terminate();
        QTRY_VERIFY(lan_.members[1]->ended());
        Member *again = lan_.watch(2, "W1");
        QTRY_VERIFY2_WITH_TIMEOUT(again->totalFrames() > 15, again->tail() + host_->tail(), kJoinMs);
        QCOMPARE(questions().size(), 2);
        // Fault once found: the same nickname from another address was let in unasked.
        Member *other = lan_.watch(3, "W1");
        QTRY_COMPARE_WITH_TIMEOUT(questions().value(2), "W1 " + lan_.address(3) + " desktop", kJoinMs);
        host_->process->write("a\n");
        QTRY_VERIFY2_WITH_TIMEOUT(other->totalFrames() > 15, other->tail() + host_->tail(), kJoinMs);
        ::kill(pid_t(host_->process->processId()), SIGINT);
        QTRY_VERIFY2_WITH_TIMEOUT(host_->exitedWith(0), host_->tail(), kJoinMs);
        for (Member *m : {again, other}) {
            QTRY_VERIFY2_WITH_TIMEOUT(m->has("stopped") && m->exitedWith(0), m->tail(), kJoinMs);
        }
    }

private:
    // The host's questions so far, as "nickname address kind".
    QStringList questions() {
        host_->pump();
        QStringList asked;
        const QRegularExpression question("waiting \\S+ (\\S+ \\S+ \\S+) \\(\\d+ waiting\\): admit\\?");
        for (auto it = question.globalMatch(host_->output); it.hasNext();) {
            asked << it.next().captured(1);
        }
        return asked;
    }

    SessionLan lan_;
    Member *host_ = nullptr;
};

QTEST_GUILESS_MAIN(AdmissionTest)
#include "tst_admission.moc"
