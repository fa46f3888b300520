#include <QtTest>

#include <QLoggingCategory>

#include "loopbackchannel.h"
#include "transfer/transferprotocol.h"
#include "transfertest.h"

using namespace transferprotocol;
using namespace transfertest;
using Message = LoopbackChannel::Message;

const QString kNameTooLong = "文件名过长", kNotAFile = "不支持发送文件夹！",
              kTransferError = "文件传输过程出错", kInterrupted = "文件传输中断",
              kSaveFailed = "保存文件失败！", kNoSpace = "磁盘空间不足，保存文件失败！";
static const QByteArray kContent(1000, 'c');

static QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
static bool isData(const Message &m) {
    return kindOf(m.data(), m.size()) == PackageKind::Data;
}
template <typename Bytes>
static ControlMessage controlOf(const Bytes &m) {
    ControlMessage c;
    c.type = readControl(reinterpret_cast<const uint8_t *>(m.data()), size_t(m.size()), c) ? c.type : "-";
    return c;
}
// What the packages say: "type/data" of a control package, "data/n" of a data package with n bytes.
static QStringList steps(const std::vector<Message> &messages) {
    QStringList out;
    for (const Message &m : messages) {
        uint32_t n = 0;
        std::string digest;
        const bool data = isData(m), ok = data && readDataHeader(m.data(), m.size(), n, digest);
        const std::string text = data ? (ok ? "data/" + std::to_string(n) : "bad data")
                                      : controlOf(m).type + "/" + controlOf(m).data;
        out << QString::fromStdString(
            m.size() == (data ? kDataPackageSize : kControlPackageSize) ? text : "wrong size");
    }
    return out;
}
static QByteArray control(const std::string &name, const char *data = kBegin, int64_t length = 1000,
                          const char *type = kSendRequest) {
    QByteArray m(kControlPackageSize, 0);
    return writeControl(reinterpret_cast<uint8_t *>(m.data()), type, data, name, length) ? m : "too long";
}
static QByteArray chunk(const QByteArray &bytes) {
    QByteArray m = QByteArray(kHeaderSize, 0) + bytes.leftJustified(kChunkAreaSize, 0);
    sealData(reinterpret_cast<uint8_t *>(m.data()), uint32_t(bytes.size()));
    return m;
}

// A sender on pc and a receiver on pc + 1 of the current channel that saves into home's download folder.
struct Pair {
    explicit Pair(int pc = 11, const QString &home = freshHome())
        : pc(pc), downloads(useHome(home) + "/Downloads") {
        LoopbackChannel::current()->link(pc, pc + 1);
        sender = std::make_unique<Side>(pc);
        receiver = std::make_unique<Side>(pc + 1);
    }
    std::vector<Message> fromSender() const { return LoopbackChannel::current()->sentBy(pc); }
    std::vector<Message> fromReceiver() const { return LoopbackChannel::current()->sentBy(pc + 1); }
    const int pc;
    const QString downloads;
    std::unique_ptr<Side> sender, receiver;
};

class TestFileTransferor : public QObject {
    Q_OBJECT
    std::unique_ptr<LoopbackChannel> channel_;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("zushare.transfer.debug=false"); }
    void init() { channel_ = std::make_unique<LoopbackChannel>(); }
    void cleanup() { channel_.reset(); }

    void filesArriveIdentical_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("damaged");  // the data package damaged once on the way, from 1
        QTest::newRow("empty") << "empty.bin" << qint64(0) << 0;
        QTest::newRow("one chunk") << "chunk.bin" << qint64(16384) << 0;
        QTest::newRow("one chunk and a byte") << "chunk1.bin" << qint64(16385) << 0;
        QTest::newRow("three MiB and a bit") << "large.bin" << qint64(3 * 1024 * 1024 + 123) << 0;
        QTest::newRow("second chunk damaged") << "damaged-once.bin" << qint64(50000) << 2;
    }
    void filesArriveIdentical() {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(int, damaged);
        const QString path = source(name, size, quint32(size) + 7);
        Pair p;
        std::atomic<bool> checkedAtEnd{false};
        std::atomic<int> dataPackages{0};
        channel_->setFilter([&](int from, Message &m) {
            if (from == p.pc && isData(m) && ++dataPackages == damaged) {
                m[kHeaderSize + 100] ^= 0x40;
            } else if (from == p.pc && !isData(m) && controlOf(m).data == kComplete) {
                // While the sender announces the end, the file exists only under its temporary name.
                const QStringList now = entries(p.downloads);
                checkedAtEnd =
                    now.size() == 1 && now[0].startsWith(name + ".tmp_") && now[0].size() == name.size() + 6;
            }
            return true;
        });
        p.sender->t->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(p.sender->completions, 1, 20000);
        QTRY_COMPARE(p.receiver->saved, QStringList{p.downloads + "/" + name});
        QVERIFY(checkedAtEnd && md5Of(p.receiver->saved[0]) == md5Of(path));
        QCOMPARE(entries(p.downloads), QStringList{name});
        QVERIFY(p.sender->begins == 1 && p.receiver->begins == 1 && p.receiver->completions == 1 &&
                p.sender->failed.isEmpty() && p.receiver->failed.isEmpty());
        QTRY_VERIFY(!p.sender->t->isRunning() && !p.receiver->t->isRunning());
        // The wire: chunks of 16384 bytes and a shorter tail; a damaged one is answered "repeat" and resent.
        channel_->waitIdle();
        QStringList sent{"send_req/begin"}, answers{"receive_resp/begin"};
        for (qint64 at = 0; at < size; at += 16384) {
            const QString data = QString("data/%1").arg(std::min<qint64>(16384, size - at));
            if (at / 16384 + 1 == damaged) {
                sent << data;
                answers << "receive_resp/repeat";
            }
            sent << data;
            answers << "receive_resp/continue";
        }
        QCOMPARE(steps(p.fromSender()), sent << "send_req/complete");
        QCOMPARE(steps(p.fromReceiver()), answers << "receive_resp/complete");
        QVERIFY(!damaged || p.fromSender()[damaged] == p.fromSender()[damaged + 1]);
    }
    // Paths the sender refuses fail at once and the next file starts.
    void queuedFilesGoOneAfterAnother() {
        Pair p;
        channel_->setDelay(std::chrono::microseconds(200));
        QDir().mkpath(scratch("a-folder"));
        // 299 bytes pass the name check, 300 do not; 200 control characters are too long once escaped.
        const QStringList refused{
            scratch("a-folder"),        scratch("missing.bin"),     "/dev/null",
            scratch(QString(299, 'n')), scratch(QString(300, 'n')), source(QString(200, QChar(0x01)), 1)};
        // The longest name a file system holds (255 bytes) travels whole and is stored shortened.
        const QStringList names{"q1.bin", "q2.bin", QString(83, QChar(0x957f)) + ".txt"};
        QStringList expectedFails, expectedOrder, order;
        for (int i = 0; i < refused.size(); ++i) {
            p.sender->t->addTask(refused[i]);
            expectedFails << QFileInfo(refused[i]).fileName() + ": " + (i < 4 ? kNotAFile : kNameTooLong);
            if (i % 2) {
                p.sender->t->addTask(source(names[i / 2], 40000 + i * 10000, 100 + i));
                expectedOrder << names[i / 2] + " begin" << names[i / 2] + " complete";
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.sender->completions, 3, 20000);
        QTRY_COMPARE(p.receiver->saved.size(), 3);
        QCOMPARE(p.sender->failed, expectedFails);
        QCOMPARE(entries(p.downloads).mid(0, 2), (QStringList{"q1.bin", "q2.bin"}));
        const QString shortened = QFileInfo(p.receiver->saved[2]).fileName();
        QVERIFY(shortened.toUtf8().size() <= kMaxDiskNameBytes && shortened.endsWith(names[2].right(5)));
        QCOMPARE(md5Of(p.receiver->saved[2]), md5Of(scratch(names[2])));
        // An offer only after the previous "complete" came back; nothing about the refused paths.
        for (const auto &record : channel_->records()) {
            const ControlMessage c = controlOf(record.second);
            if (c.data == (record.first == p.pc ? kBegin : kComplete)) {
                order << QString::fromStdString(c.name + " " + c.data);
            }
        }
        QCOMPARE(order, expectedOrder);
        // One batch, one look at the folder (it once opened for every file).
        QTRY_COMPARE(p.receiver->folders, QStringList{p.downloads});
    }
    // Each case waits out the time-out of a silent direction; they run side by side on one channel.
    void silenceEndsTheTransfer() {
        Pair vanished(11);  // the peer goes silent mid-file
        Pair host(31);      // a host's transferor takes no file from a member
        Pair damaged(41);   // every copy of one chunk arrives damaged
        host.receiver->t->refuseFiles();
        std::atomic<int> vanishedData{0}, damagedData{0};
        channel_->setFilter([&](int from, Message &m) {
            if (from == 41 && isData(m) && ++damagedData <= 5) {
                m[kHeaderSize] ^= 0x01;
            }
            return from / 10 != 1 || (vanishedData += (from == 11 && isData(m))) < 3;
        });
        vanished.sender->t->addTask(source("vanished.bin", 100000, 8));
        host.sender->t->addTask(source("unanswered.bin", 3));
        damaged.sender->t->addTask(source("always-damaged.bin", 40000, 5));

        // Four "repeat" answers, then the receiver gives up in silence.
        QTRY_COMPARE(damaged.receiver->failures(), "always-damaged.bin: " + kTransferError);
        QTRY_COMPARE(steps(damaged.fromReceiver()),
                     ("receive_resp/begin" + QString(",receive_resp/repeat").repeated(4)).split(','));
        const std::pair<Side *, QString> cases[] = {
            {vanished.sender.get(), "vanished.bin: " + kInterrupted},
            {host.sender.get(), "unanswered.bin: " + kInterrupted},
            {vanished.receiver.get(), "vanished.bin: " + kInterrupted}};
        for (const auto &c : cases) {
            QTRY_COMPARE_WITH_TIMEOUT(c.first->failures(), c.second, 20000);
            QVERIFY(c.first->failedAtMs[0] >= 9000);
        }
        QCOMPARE(entries(vanished.downloads) + entries(host.downloads) + entries(damaged.downloads),
                 QStringList());
        QVERIFY(!vanished.sender->t->isRunning() && !vanished.receiver->t->isRunning() &&
                !host.sender->t->isRunning() && host.fromReceiver().empty());
        QCOMPARE(steps(host.fromSender()), QStringList{"send_req/begin"});
    }
    void downloadFolderStates_data() {
        QTest::addColumn<QStringList>("present");  // "@name": a dangling symlink; ".": a file for the folder
        QTest::addColumn<int>("disk");             // 1: a 4 MiB file system, 2: one that fills up meanwhile
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kib");
        QTest::addColumn<QString>("result");  // the name it is saved under, or the receiver's error
        const QStringList tmps = QString("0123456789")
                                     .split("", Qt::SkipEmptyParts)
                                     .replaceInStrings(QRegularExpression("^"), "busy.bin.tmp_");
        QTest::newRow("taken names") << QStringList{"a.tar.gz", "a.tar (1).gz"} << 0 << "a.tar.gz" << 20
                                     << "a.tar (2).gz";
        // A symlink at the final name, dangling or not, is a taken name: nothing is written through it.
        QTest::newRow("symlink at the name") << QStringList{"@.notes"} << 0 << ".notes" << 5 << ".notes (1)";
        QTest::newRow("every temporary name taken") << tmps << 0 << "busy.bin" << 1 << kSaveFailed;
        QTest::newRow("a file for the folder") << QStringList{"."} << 0 << "nowhere.bin" << 1 << kSaveFailed;
        // A file that did not fit was once written until the disk was full, and the sender kept waiting.
        QTest::newRow("larger than the free space")
            << QStringList() << 1 << "big.bin" << 6 * 1024 << kNoSpace;
        QTest::newRow("disk fills during the transfer")
            << QStringList() << 2 << "big.bin" << 1024 << kNoSpace;
    }
    void downloadFolderStates() {
        QFETCH(QStringList, present);
        QFETCH(int, disk);
        QFETCH(QString, name);
        QFETCH(int, kib);
        QFETCH(QString, result);
        QVERIFY(!disk || qEnvironmentVariableIsSet("ZU_TEST_SMALL_FS"));  // in-netns.sh's small file system
        QTemporaryDir small(qEnvironmentVariable("ZU_TEST_SMALL_FS", QDir::tempPath()) + "/home-XXXXXX");
        const QString home = disk ? small.path() : freshHome(), downloads = home + "/Downloads";
        const QString outside = scratch("outside-target.txt");
        const bool refused = result == kSaveFailed || result == kNoSpace;
        QDir().mkpath(present.contains(".") ? home : downloads);
        QStringList after = refused ? QStringList() : QStringList{result};
        for (const QString &entry : present) {
            QFile file(entry == "." ? downloads : downloads + "/" + entry);
            QVERIFY(entry.startsWith('@') ? QFile::link(outside, downloads + "/" + entry.mid(1))
                                          : file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
            after << (entry == "." ? QStringList() : QStringList{QString(entry).remove('@')});
        }
        Pair p(11, home);
        std::atomic<bool> filled{false};
        channel_->setFilter([&](int from, Message &m) {
            QFile file(home + "/filler");
            if (disk == 2 && from == p.pc && isData(m) && !filled.exchange(true) &&
                file.open(QIODevice::WriteOnly)) {
                const QByteArray block(64 * 1024, 'f');
                while (file.write(block) == block.size() && file.flush()) {
                }
            }
            return true;
        });
        const QString path = source(name, kib * 1024, quint32(kib));
        p.sender->t->addTask(path);
        if (!refused) {
            QTRY_COMPARE_WITH_TIMEOUT(p.receiver->saved, QStringList{downloads + "/" + result}, 10000);
            QVERIFY(md5Of(p.receiver->saved[0]) == md5Of(path) && !QFileInfo::exists(outside));
        } else {
            QTRY_COMPARE(p.receiver->failures(), name + ": " + result);
            QTRY_COMPARE(p.sender->failures(), name + ": " + kInterrupted);
            // The sender is told at once; refused before a byte was written, unless the disk filled
            // meanwhile.
            const QStringList answers = steps(p.fromReceiver());
            QCOMPARE(answers.mid(disk == 2 ? answers.size() - 1 : 0), QStringList{"receive_resp/cancel"});
            QTRY_VERIFY(!p.receiver->t->isRunning() && p.receiver->saved.isEmpty() &&
                        !p.sender->t->isRunning());
        }
        // Nothing partial is left behind and nothing that was there is overwritten.
        after.sort();
        QCOMPARE(entries(downloads), after);
        for (const QString &entry : present) {
            QVERIFY(entry == "." || entry.startsWith('@') ||
                    testsupport::readFile(downloads + "/" + entry) == "keep me");
        }
    }
    // Packages from a peer without a transferor, to a receiver or to a sender that offered answered.bin.
    void peerPackages_data() {
        QTest::addColumn<bool>("toSender");
        QTest::addColumn<QByteArrayList>("packages");
        QTest::addColumn<QStringList>("answers");  // steps of what the tested side sends
        QTest::addColumn<QString>("failures");
        QTest::addColumn<QStringList>("stored");  // the download folder's files afterwards
        const QString begun = "receive_resp/begin", more = "receive_resp/continue",
                      done = "receive_resp/complete";
        // Received names and the plain names they are stored under ("-": the name of an unnamed file).
        const QString wen(QChar(0x6587)), emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
        QStringList names = QString::fromUtf8(
                                "../../x|x|/etc/x|x|..|-|.|-|....|-|a/../../b|b|..\\..\\win.ini|win.ini|"
                                "dir/|-||-|z\n\x01z\x7f|zz|invoice\u202etxt.exe|invoicetxt.exe|  . |-|"
                                "报告 二〇二六.txt|报告 二〇二六.txt|.profile|.profile")
                                .split('|');
        // Long names are cut to 200 bytes, keeping the extension and never halving a character.
        names << scratch("y") << "y" << QString(QChar(0)) + "x"
              << "x" << wen.repeated(95) + ".tar" << wen.repeated(65) + ".tar" << emoji.repeated(74)
              << emoji.repeated(50);
        for (int i = 0; i < names.size(); i += 2) {
            const std::string name = names[i].toStdString();
            QTest::newRow(qPrintable(names[i]))
                << false << QByteArrayList{control(name), chunk(kContent), control(name, kComplete)}
                << QStringList{begun, more, done} << QString()
                << QStringList{names[i + 1] == "-" ? QString("未命名文件") : names[i + 1]};
        }
        // Ignored without an answer: data without an offer, an unknown tag, an offer without a length.
        const QByteArray noLength = QByteArray(kControlTag, kTagSize).leftJustified(kJsonOffset, '\0') +
                                    R"({"data":"begin","name":"n","type":"send_req"})";
        QTest::newRow("stray packages, then a cancel")
            << false
            << QByteArrayList{chunk(kContent), QByteArray(1024, 'j'),    noLength.leftJustified(1024, '\0'),
                              control("n"),    chunk(kContent.left(10)), control("n", kCancel)}
            << QStringList{begun, more} << "n: " + kInterrupted << QStringList();
        // Neither a chunk beyond the announced length nor one a byte short of its length field counts.
        QTest::newRow("unfinished file")
            << false
            << QByteArrayList{control("short.bin", kBegin, 1500), chunk(kContent + kContent),
                              chunk(kContent).left(kHeaderSize + 999), chunk(kContent.left(500)),
                              control("short.bin", kComplete, 1500)}
            << QStringList{begun, more} << "short.bin: " + kTransferError << QStringList();
        // Late answers to an earlier offer and an answer of the wrong step leave the sender silent.
        QTest::newRow("stale answers")
            << true
            << QByteArrayList{control("other.bin", kBegin, 100, kReceiveResponse),
                              control("answered.bin", kBegin, 99, kReceiveResponse),
                              control("answered.bin", kContinue, 100, kReceiveResponse),
                              control("answered.bin", kBegin, 100, kReceiveResponse)}
            << QStringList{"send_req/begin", "data/100"} << QString() << QStringList();
    }
    void peerPackages() {
        QFETCH(bool, toSender);
        QFETCH(QByteArrayList, packages);
        QFETCH(QStringList, answers);
        QFETCH(QString, failures);
        QFETCH(QStringList, stored);
        const QString home = freshHome(), downloads = useHome(home) + "/Downloads";
        const int tested = toSender ? 11 : 12, peer = 23 - tested;
        channel_->link(11, 12);
        Side side(tested);
        if (toSender) {
            side.t->addTask(source("answered.bin", 100, 3));
            QTRY_COMPARE(steps(channel_->sentBy(tested)), QStringList{"send_req/begin"});
        }
        // One at a time: a transferor holds only four packages that wait for its thread.
        for (const QByteArray &m : packages) {
            channel_->send(peer, reinterpret_cast<const uint8_t *>(m.constData()), m.size());
            channel_->waitIdle();
            QMetaObject::invokeMethod(
                side.t.get(), [] {}, Qt::BlockingQueuedConnection);
        }
        QTRY_COMPARE(steps(channel_->sentBy(tested)), answers);
        QTRY_COMPARE(side.failures(), failures);
        QTRY_COMPARE(entries(downloads), stored);
        // Answers echo the name as offered; nothing lands outside the download folder.
        const Message last = channel_->sentBy(tested).back();
        QVERIFY(isData(last) || controlOf(last).name == controlOf(packages.back()).name);
        QVERIFY(stored.isEmpty() || testsupport::readFile(downloads + "/" + stored[0]) == kContent);
        QVERIFY(!QFile::exists(scratch("x")) && !QFile::exists(scratch("y")) && !QFile::exists(home + "/b"));
    }
    // A stopped task sends nothing more; a destroyed transferor unregisters at once (no one-second sleep).
    void stopAndDestructionEndAtOnce() {
        Pair p;
        channel_->setDelay(std::chrono::milliseconds(2));
        p.sender->t->addTask(source("stopped.bin", 4 * 1024 * 1024, 77));
        QTRY_VERIFY(p.fromSender().size() > 5 && p.sender->t->isRunning());
        p.sender->t->postStopTask();
        QTRY_VERIFY_WITH_TIMEOUT(!p.sender->t->isRunning(), 2000);
        const size_t sentAtStop = p.fromSender().size();
        QTest::qWait(1000);  // nothing to wait for: answers in flight and ticks must not make it send
        QVERIFY(p.fromSender().size() <= sentAtStop && !p.sender->t->isRunning() &&
                p.sender->failed.isEmpty());
        // The queue accepts work again; the receiver gives up the abandoned file for the new one.
        p.sender->t->addTask(source("after-stop.bin", 3000, 78));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiver->saved.size(), 1, 10000);
        QVERIFY(md5Of(p.receiver->saved[0]) == md5Of(scratch("after-stop.bin")) &&
                p.receiver->failures() == "stopped.bin: " + kInterrupted);
        const size_t answered = p.fromReceiver().size();
        p.sender->t->addTask(source("destroyed.bin", 2 * 1024 * 1024, 55));
        QTRY_VERIFY(p.fromReceiver().size() > answered + 10 && p.receiver->t->isRunning());
        QElapsedTimer clock;
        clock.start();
        p.receiver->t.reset();
        p.sender->t.reset();
        QVERIFY(clock.elapsed() < 1000 && !channel_->isRegistered(p.pc) && !channel_->isRegistered(p.pc + 1));
        const size_t sent = channel_->records().size();
        QTest::qWait(100);  // nothing to wait for: nobody may send any more
        QVERIFY(channel_->records().size() == sent && entries(p.downloads) == QStringList{"after-stop.bin"});
        // One whose thread has ended, and one whose thread never ran.
        QThread thread, idle;
        thread.start();
        auto transferor = std::make_shared<FileTransferor>(12);
        transferor->moveToThread(&thread);
        QTRY_VERIFY(channel_->isRegistered(12));
        QTest::qWait(50);  // lets the thread start the transferor's timer
        thread.quit();
        thread.wait();
        transferor.reset();
        auto unstarted = std::make_shared<FileTransferor>(11);
        unstarted->moveToThread(&idle);
        unstarted->addTask(scratch("never.bin"));
        unstarted.reset();
        QVERIFY(!channel_->isRegistered(12) && !channel_->isRegistered(11));
    }
};

QTEST_MAIN(TestFileTransferor)
#include "tst_filetransferor.moc"
