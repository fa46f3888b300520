#include <QtTest>

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "loopbackchannel.h"
#include "transfer/transferprotocol.h"
#include "transfertest.h"

using namespace transferprotocol;
using namespace transfertest;
using Message = LoopbackChannel::Message;

const QString kNameTooLong = QStringLiteral("文件名过长");
const QString kNotAFile = QStringLiteral("不支持发送文件夹！");
const QString kTransferError = QStringLiteral("文件传输过程出错");
const QString kInterrupted = QStringLiteral("文件传输中断");
const QString kSaveFailed = QStringLiteral("保存文件失败！");
const QString kNoSpace = QStringLiteral("磁盘空间不足，保存文件失败！");

static QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
static bool isData(const Message &m) {
    return kindOf(m.data(), m.size()) == PackageKind::Data;
}
static ControlMessage controlOf(const Message &m) {
    ControlMessage message;
    message.type = readControl(m.data(), m.size(), message) ? message.type : "unreadable";
    return message;
}
// What the packages say: "type/data" of a control package, "data/n" of a data package with n bytes.
static QStringList steps(const std::vector<Message> &messages) {
    QStringList out;
    for (const Message &m : messages) {
        uint32_t n = 0;
        std::string digest, text = "wrong size";
        if (!isData(m) && m.size() == kControlPackageSize) {
            text = controlOf(m).type + "/" + controlOf(m).data;
        } else if (isData(m)) {
            const bool ok = m.size() == kDataPackageSize && readDataHeader(m.data(), m.size(), n, digest);
            text = ok ? "data/" + std::to_string(n) : "bad data";
        }
        out << QString::fromStdString(text);
    }
    return out;
}
// "name: error" of each failure, in order.
static QString failures(const Side &side) {
    QStringList out;
    for (const Side::Fail &fail : side.fails) {
        out << QFileInfo(fail.path).fileName() + ": " + fail.error;
    }
    return out.join(", ");
}
static Message control(const char *type, const char *data, const std::string &name, int64_t length) {
    Message m(kControlPackageSize);
    if (!writeControl(m.data(), type, data, name, length)) {
        qFatal("control message too long");
    }
    return m;
}
static Message chunk(const QByteArray &bytes) {
    Message m(kDataPackageSize, 0);
    std::memcpy(m.data() + kHeaderSize, bytes.constData(), size_t(bytes.size()));
    sealData(m.data(), uint32_t(bytes.size()));
    return m;
}

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// A sender on pc and a receiver on pc + 1 that saves into the download folder of home.
struct Pair {
    Pair(LoopbackChannel &c, const QString &home, int pc = 11, bool withSender = true,
         bool withReceiver = true)
        : channel(c), pc(pc), downloads(home + "/Downloads") {
        // The download folder of QStandardPaths follows HOME when no user-dirs file says otherwise.
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/.config"));
        channel.link(pc, pc + 1);
        sender.reset(withSender ? new Side(pc) : nullptr);
        receiver.reset(withReceiver ? new Side(pc + 1) : nullptr);
    }
    std::vector<Message> fromSender() const { return channel.sentBy(pc); }
    std::vector<Message> fromReceiver() const { return channel.sentBy(pc + 1); }

    LoopbackChannel &channel;
    const int pc;
    const QString downloads;
    std::unique_ptr<Side> sender, receiver;
};

class TestFileTransferor : public QObject {
    Q_OBJECT
    QTemporaryDir home_, source_;
    UrlSink urls_;
    int homes_ = 0;

    QString freshHome() {
        const QString path = home_.filePath(QString("home%1").arg(++homes_));
        QDir().mkpath(path);
        return path;
    }
    QString source(const QString &name, qint64 size, quint32 seed = 1) {
        return writeRandomFile(source_.filePath(name), size, seed);
    }

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid() && source_.isValid());
        // Per-chunk traces would only slow the runs down.
        QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
        QDesktopServices::setUrlHandler("file", &urls_, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void filesArriveIdentical_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("damaged");  // the data package damaged once on the way, from 1
        QTest::newRow("empty") << "empty.bin" << qint64(0) << 0;
        QTest::newRow("one chunk") << "chunk.bin" << qint64(16384) << 0;
        QTest::newRow("one chunk and a byte") << "chunk1.bin" << qint64(16385) << 0;
        QTest::newRow("three MiB and a bit") << "large.bin" << qint64(3 * 1024 * 1024 + 123) << 0;
        QTest::newRow("chinese name") << QStringLiteral("报告 二〇二六（终稿）.txt") << qint64(30000) << 0;
        QTest::newRow("second chunk damaged") << "damaged-once.bin" << qint64(50000) << 2;
    }
    void filesArriveIdentical() {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QFETCH(int, damaged);
        const QString path = source(name, size, quint32(size) + 7);
        LoopbackChannel channel;
        Pair p(channel, freshHome());
        QVERIFY(!QFileInfo::exists(p.downloads));  // made when the first file arrives
        std::atomic<int> checkedAtEnd{0}, dataPackages{0};
        channel.setFilter([&](int from, Message &m) {
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
        const int opened = urls_.opened.size();
        p.sender->t->addTask(path);

        QTRY_COMPARE_WITH_TIMEOUT(p.sender->completions(), 1, 20000);
        QTRY_COMPARE(p.receiver->saved, QStringList{p.downloads + "/" + name});
        QCOMPARE(checkedAtEnd.load(), 1);
        QCOMPARE(md5Of(p.receiver->saved[0]), md5Of(path));
        QCOMPARE(entries(p.downloads), QStringList{name});
        QVERIFY(p.sender->begins == 1 && p.receiver->begins == 1 && p.receiver->completions() == 1 &&
                p.sender->fails.isEmpty() && p.receiver->fails.isEmpty());
        QTRY_COMPARE(urls_.opened.mid(opened), QList<QUrl>{QUrl::fromLocalFile(p.downloads)});
        QTRY_VERIFY(!p.sender->t->isRunning() && !p.receiver->t->isRunning());

        // The wire: chunks of 16384 bytes and one shorter tail; a damaged package is answered
        // "repeat" and sent again unchanged.
        channel.waitIdle();
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
        for (const auto &record : channel.records()) {
            // Names travel as \u escapes: the text is ASCII throughout.
            const Message &m = record.bytes;
            const std::string json = controlJson(m.data(), m.size());
            QVERIFY(std::all_of(json.begin(), json.end(), [](char c) { return uchar(c) < 0x80; }));
            QVERIFY(isData(m) || (controlOf(m).name == name.toStdString() && controlOf(m).length == size));
        }
    }

    // Paths the sender refuses fail at once and the next file starts.
    void queuedFilesGoOneAfterAnother() {
        LoopbackChannel channel;
        Pair p(channel, freshHome());
        channel.setDelay(std::chrono::microseconds(200));
        const int opened = urls_.opened.size();
        QDir().mkpath(source_.filePath("a-folder"));
        const std::pair<QString, QString> refused[] = {
            {source_.filePath("a-folder"), kNotAFile},
            {source_.filePath("missing.bin"), kNotAFile},
            {"/dev/null", kNotAFile},
            // 299 bytes pass the name check (the path does not exist), 300 bytes do not.
            {source_.filePath(QString(299, 'n')), kNotAFile},
            {source_.filePath(QString(300, 'n')), kNameTooLong},
            // Short enough in bytes, too long once escaped on the wire.
            {source(QString(200, QChar(0x01)), 1), kNameTooLong}};
        // The longest name a Linux file system holds (255 bytes) travels whole and is stored shortened.
        const QStringList names{"q1.bin", "q2.bin", QString(83, QChar(0x957f)) + ".txt"};
        QStringList paths, expectedFails, expectedOrder, order;
        for (int i = 0; i < names.size(); ++i) {
            for (const auto &path : {refused[2 * i], refused[2 * i + 1]}) {
                p.sender->t->addTask(path.first);
                expectedFails << QFileInfo(path.first).fileName() + ": " + path.second;
            }
            paths << source(names[i], 40000 + i * 20000, 100 + i);
            p.sender->t->addTask(paths.last());
            expectedOrder << names[i] + " begin" << names[i] + " complete";
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.sender->completions(), 3, 20000);
        QTRY_COMPARE(p.receiver->saved.size(), 3);
        QCOMPARE(failures(*p.sender), expectedFails.join(", "));
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(md5Of(p.receiver->saved[i]), md5Of(paths[i]));
        }
        QCOMPARE(p.receiver->saved.mid(0, 2),
                 (QStringList{p.downloads + "/q1.bin", p.downloads + "/q2.bin"}));
        const QString shortened = QFileInfo(p.receiver->saved[2]).fileName();
        QVERIFY(shortened.toUtf8().size() <= kMaxDiskNameBytes && shortened.endsWith(names[2].right(5)));
        // Each offer goes out only after the previous file's "complete" answer came back, and nothing
        // about the refused paths goes to the peer.
        for (const auto &record : channel.records()) {
            const ControlMessage c = controlOf(record.bytes);
            if ((record.from == p.pc && c.data == kBegin) ||
                (record.from == p.pc + 1 && c.data == kComplete)) {
                order << QString::fromStdString(c.name + " " + c.data);
            }
        }
        QCOMPARE(order, expectedOrder);
        // One batch, one look at the folder (it once opened for every file).
        QTRY_VERIFY(urls_.opened.size() > opened);
        QCOMPARE(urls_.opened.size(), opened + 1);
    }

    // Each case waits out the time-out of a silent direction; they run side by side on one channel.
    void silenceEndsTheTransfer() {
        LoopbackChannel channel;
        Pair vanished(channel, freshHome(), 11);  // the peer goes silent mid-file
        Pair host(channel, freshHome(), 31);      // a host's transferor takes no file from a member
        Pair damaged(channel, freshHome(), 41);   // every copy of one chunk arrives damaged
        host.receiver->t->refuseFiles();
        std::atomic<int> vanishedData{0}, damagedData{0};
        channel.setFilter([&](int from, Message &m) {
            if (from == 41 && isData(m) && ++damagedData <= 5) {
                m[kHeaderSize] ^= 0x01;
            }
            return from / 10 != 1 || (vanishedData += (from == 11 && isData(m))) < 3;
        });
        vanished.sender->t->addTask(source("vanished.bin", 100000, 8));
        host.sender->t->addTask(source("unanswered.bin", 3));
        damaged.sender->t->addTask(source("always-damaged.bin", 40000, 5));
        const QString good = source("after-damage.bin", 20000, 6);
        damaged.sender->t->addTask(good);

        // Four "repeat" answers, then the receiver gives up in silence; the partial file is gone.
        QTRY_COMPARE_WITH_TIMEOUT(failures(*damaged.receiver), "always-damaged.bin: " + kTransferError, 5000);
        channel.waitIdle();
        QCOMPARE(steps(damaged.fromReceiver()),
                 ("receive_resp/begin" + QString(",receive_resp/repeat").repeated(4)).split(','));
        QCOMPARE(entries(damaged.downloads), QStringList());

        // Every sender gives up after the time-out.
        const std::pair<Pair *, QString> cases[] = {{&vanished, "vanished.bin: " + kInterrupted},
                                                    {&host, "unanswered.bin: " + kInterrupted},
                                                    {&damaged, "always-damaged.bin: " + kTransferError}};
        for (const auto &c : cases) {
            QTRY_COMPARE_WITH_TIMEOUT(failures(*c.first->sender), c.second, 20000);
            QVERIFY2(c.first->sender->fails[0].atMs >= 9000,
                     qPrintable(QString::number(c.first->sender->fails[0].atMs)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(failures(*vanished.receiver), "vanished.bin: " + kInterrupted, 5000);
        QVERIFY(vanished.receiver->fails[0].atMs >= 9000);
        // Neither a final nor a temporary file is left.
        QCOMPARE(entries(vanished.downloads) + entries(host.downloads), QStringList());
        QVERIFY(!vanished.sender->t->isRunning() && !vanished.receiver->t->isRunning() &&
                !host.sender->t->isRunning());
        QCOMPARE(steps(host.fromSender()), QStringList{"send_req/begin"});
        QVERIFY(host.fromReceiver().empty());
        // The damaged file's sender learns of it by the silence, then goes on with the next file.
        QTRY_COMPARE_WITH_TIMEOUT(damaged.receiver->saved,
                                  QStringList{damaged.downloads + "/after-damage.bin"}, 10000);
        QCOMPARE(md5Of(damaged.receiver->saved[0]), md5Of(good));
    }

    void stopTaskStopsAtOnceAndSendsNothing() {
        LoopbackChannel channel;
        Pair p(channel, freshHome());
        channel.setDelay(std::chrono::milliseconds(2));
        p.sender->t->addTask(source("stopped.bin", 4 * 1024 * 1024, 77));
        QTRY_VERIFY_WITH_TIMEOUT(p.fromSender().size() > 5, 5000);
        QVERIFY(p.sender->t->isRunning());
        p.sender->t->postStopTask();
        QTRY_VERIFY_WITH_TIMEOUT(!p.sender->t->isRunning(), 2000);
        const size_t sentAtStop = p.fromSender().size();
        // Nothing to wait for: answers still in flight must not make the sender send again, not even
        // at the next ticks of its timer.
        QTest::qWait(1000);
        QVERIFY(p.fromSender().size() <= sentAtStop && !p.sender->t->isRunning() &&
                p.sender->fails.isEmpty());

        // The queue accepts work again; the receiver gives up the abandoned file for the new one.
        channel.setDelay(std::chrono::microseconds(0));
        const QString next = source("after-stop.bin", 3000, 78);
        p.sender->t->addTask(next);
        QTRY_COMPARE_WITH_TIMEOUT(p.receiver->saved.size(), 1, 10000);
        QCOMPARE(md5Of(p.receiver->saved[0]), md5Of(next));
        QCOMPARE(failures(*p.receiver), "stopped.bin: " + kInterrupted);
        QCOMPARE(entries(p.downloads), QStringList{"after-stop.bin"});
    }

    void progressIsThrottled() {
        // Find the start of a cycle, whatever earlier tests left in the shared counter.
        int calls = 0;
        while (!FileTransferor::passProgress(5)) {
            QVERIFY(++calls <= 51);
        }
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 50; ++i) {
                QVERIFY(!FileTransferor::passProgress(i % 100));
                QVERIFY(FileTransferor::passProgress(100));  // never held back, never counted
            }
            QVERIFY(FileTransferor::passProgress(42));
        }
    }

    void downloadFolderStates_data() {
        QTest::addColumn<QStringList>("present");  // "@name": a dangling symlink; ".": a file for the folder
        QTest::addColumn<int>("disk");             // 1: a 4 MiB file system, 2: one that fills up meanwhile
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kib");
        QTest::addColumn<QString>("saved");  // empty: the receiver refuses with error
        QTest::addColumn<QString>("error");
        QStringList tmps;
        for (int digit = 0; digit < 10; ++digit) {
            tmps << QString("busy.bin.tmp_%1").arg(digit);
        }
        const QString none;
        QTest::newRow("taken names") << QStringList{"report.pdf", "report (1).pdf"} << 0 << "report.pdf" << 20
                                     << "report (2).pdf" << none;
        // A symlink at the final name, dangling or not, is a taken name: nothing is written through it.
        QTest::newRow("symlink at the name")
            << QStringList{"@notes.txt"} << 0 << "notes.txt" << 5 << "notes (1).txt" << none;
        QTest::newRow("every temporary name taken") << tmps << 0 << "busy.bin" << 1 << none << kSaveFailed;
        QTest::newRow("a file for the folder")
            << QStringList{"."} << 0 << "nowhere.bin" << 1 << none << kSaveFailed;
        // A file that did not fit was once written until the disk was full, and the sender kept waiting.
        QTest::newRow("larger than the free space")
            << QStringList() << 1 << "big.bin" << 6 * 1024 << none << kNoSpace;
        QTest::newRow("disk fills during the transfer")
            << QStringList() << 2 << "big.bin" << 1024 << none << kNoSpace;
    }
    void downloadFolderStates() {
        QFETCH(QStringList, present);
        QFETCH(int, disk);
        QFETCH(QString, name);
        QFETCH(int, kib);
        QFETCH(QString, saved);
        QFETCH(QString, error);
        std::unique_ptr<QTemporaryDir> small;
        if (disk && qEnvironmentVariableIsEmpty("ZU_TEST_SMALL_FS")) {
            QSKIP("needs the small file system of tests/support/in-netns.sh");
        } else if (disk) {
            small.reset(new QTemporaryDir(qEnvironmentVariable("ZU_TEST_SMALL_FS") + "/home-XXXXXX"));
        }
        const QString home = small ? small->path() : freshHome(), downloads = home + "/Downloads";
        const QString outside = source_.filePath("outside-target.txt");
        QDir().mkpath(present.contains(".") ? home : downloads);
        QStringList after = saved.isEmpty() ? QStringList() : QStringList{saved};
        for (const QString &entry : present) {
            QFile file(entry == "." ? downloads : downloads + "/" + entry);
            QVERIFY(entry.startsWith('@') ? QFile::link(outside, downloads + "/" + entry.mid(1))
                                          : file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
            after << (entry == "." ? QStringList() : QStringList{QString(entry).remove('@')});
        }
        LoopbackChannel channel;
        Pair p(channel, home);
        std::atomic<bool> filled{false};
        channel.setFilter([&](int from, Message &m) {
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
        if (!saved.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(p.receiver->saved, QStringList{downloads + "/" + saved}, 10000);
            QCOMPARE(md5Of(p.receiver->saved[0]), md5Of(path));
            QVERIFY(!QFileInfo::exists(outside));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(failures(*p.receiver), name + ": " + error, 5000);
            QCOMPARE(p.receiver->begins, disk == 2 ? 1 : 0);
            // The sender is told at once rather than left to time out.
            QTRY_COMPARE_WITH_TIMEOUT(failures(*p.sender), name + ": " + kInterrupted, 5000);
            const QStringList answers = steps(p.fromReceiver());
            QCOMPARE(answers.last(), QString("receive_resp/cancel"));
            QCOMPARE(answers.size() == 1, disk != 2);  // refused before a byte was written
            QTRY_VERIFY(!p.receiver->t->isRunning() && p.receiver->saved.isEmpty() &&
                        !p.sender->t->isRunning());
        }
        // Nothing partial is left behind and nothing that was there is overwritten.
        after.sort();
        QCOMPARE(entries(downloads), after);
        for (const QString &entry : present) {
            QFile file(downloads + "/" + entry);
            QVERIFY(entry == "." ||
                    (entry.startsWith('@') && QFileInfo(downloads + "/" + entry.mid(1)).isSymLink()) ||
                    (file.open(QIODevice::ReadOnly) && file.readAll() == "keep me"));
        }
    }

    // Offers from a peer without a transferor: the test speaks the protocol itself.
    void hostileNamesLandInsideTheDownloadFolder() {
        const QString home = freshHome();
        QDir().mkpath(home + "/outside");
        LoopbackChannel channel;
        Pair p(channel, home, 11, false);
        const QByteArray content(1000, 'c');
        const std::pair<std::string, QString> names[] = {{"../../x", "x"},
                                                         {(home + "/outside/y").toStdString(), "y"},
                                                         {"a/../../b", "b"},
                                                         {"z\n\x01z", "zz"}};
        QStringList stored;
        for (const auto &name : names) {
            const int answered = int(p.fromReceiver().size());
            channel.inject(p.pc + 1, control(kSendRequest, kBegin, name.first, content.size()));
            channel.inject(p.pc + 1, chunk(content));
            channel.inject(p.pc + 1, control(kSendRequest, kComplete, name.first, content.size()));
            QTRY_COMPARE(
                steps(p.fromReceiver()).mid(answered),
                (QStringList{"receive_resp/begin", "receive_resp/continue", "receive_resp/complete"}));
            // The answers echo the name as offered.
            QCOMPARE(controlOf(p.fromReceiver().back()).name, name.first);
            stored << p.downloads + "/" + name.second;
            QTRY_COMPARE(p.receiver->saved, stored);
            QCOMPARE(md5Of(stored.last()),
                     QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
        }
        QCOMPARE(entries(p.downloads), (QStringList{"b", "x", "y", "zz"}));
        QVERIFY(!QFile::exists(home + "/x") && !QFile::exists(home + "/b") &&
                !QFile::exists(home + "/outside/y"));
    }

    void protocolViolationsAreRefused() {
        LoopbackChannel channel;
        Pair p(channel, freshHome(), 11, false);
        const int to = p.pc + 1;
        const QByteArray content(3000, 'v');
        auto answers = [&] { return steps(p.fromReceiver()); };
        // Ignored without an answer: data without an offer, an unknown tag, an offer without a length.
        channel.inject(to, chunk(content));
        channel.inject(to, Message(1024, 'j'));
        Message noLength(kControlPackageSize, 0);
        const std::string withoutLength = R"({"data":"begin","name":"n","type":"send_req"})";
        std::memcpy(noLength.data(), kControlTag, kTagSize);
        std::memcpy(noLength.data() + kJsonOffset, withoutLength.data(), withoutLength.size());
        channel.inject(to, noLength);
        // Answers come in order: the first one is the answer to this offer.
        channel.inject(to, control(kSendRequest, kBegin, "short.bin", content.size()));
        QTRY_COMPARE(answers(), QStringList{"receive_resp/begin"});
        // Neither a chunk beyond the announced length nor a package shorter than its chunk length is
        // written or answered; a third of the file is, and "complete" then ends it unfinished.
        channel.inject(to, chunk(content + "more"));
        Message truncated = chunk(content);
        truncated.resize(kHeaderSize + 100);
        channel.inject(to, truncated);
        channel.inject(to, chunk(content.left(1000)));
        QTRY_COMPARE(answers().size(), 2);
        channel.inject(to, control(kSendRequest, kComplete, "short.bin", content.size()));
        QTRY_COMPARE(failures(*p.receiver), "short.bin: " + kTransferError);
        QCOMPARE(answers(), (QStringList{"receive_resp/begin", "receive_resp/continue"}));
        QVERIFY(entries(p.downloads).isEmpty() && p.receiver->saved.isEmpty());

        // "cancel" from the sender ends the receive and removes the partial file.
        channel.inject(to, control(kSendRequest, kBegin, "cancelled.bin", content.size()));
        channel.inject(to, chunk(content.left(10)));
        QTRY_COMPARE(answers().size(), 4);
        QCOMPARE(entries(p.downloads).size(), 1);
        channel.inject(to, control(kSendRequest, kCancel, "cancelled.bin", content.size()));
        QTRY_COMPARE(p.receiver->fails.size(), 2);
        QCOMPARE(p.receiver->fails[1].error, kInterrupted);
        QVERIFY(entries(p.downloads).isEmpty() && !p.receiver->t->isRunning());
    }

    void lateAnswersForAnotherFileAreIgnored() {
        LoopbackChannel channel;
        Pair p(channel, freshHome(), 11, true, false);
        p.sender->t->addTask(source("answered.bin", 100, 3));
        QTRY_COMPARE(steps(p.fromSender()), QStringList{"send_req/begin"});
        // Late answers to an earlier offer, then an answer of the wrong step.
        channel.inject(p.pc, control(kReceiveResponse, kBegin, "other.bin", 100));
        channel.inject(p.pc, control(kReceiveResponse, kBegin, "answered.bin", 99));
        channel.inject(p.pc, control(kReceiveResponse, kContinue, "answered.bin", 100));
        channel.waitIdle();
        QTest::qWait(50);  // nothing to wait for: the sender must stay silent
        QCOMPARE(steps(p.fromSender()), QStringList{"send_req/begin"});
        channel.inject(p.pc, control(kReceiveResponse, kBegin, "answered.bin", 100));
        QTRY_COMPARE(steps(p.fromSender()), (QStringList{"send_req/begin", "data/100"}));
    }

    void destructionMidTransfer() {
        LoopbackChannel channel;
        Pair p(channel, freshHome());
        channel.setDelay(std::chrono::milliseconds(1));
        p.sender->t->addTask(source("destroyed.bin", 2 * 1024 * 1024, 55));
        QTRY_VERIFY_WITH_TIMEOUT(p.fromReceiver().size() > 10 && p.receiver->t->isRunning(), 5000);
        QElapsedTimer clock;
        clock.start();
        p.receiver->t.reset();
        p.sender->t.reset();
        // Without a one-second sleep per transferor.
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!channel.isRegistered(p.pc) && !channel.isRegistered(p.pc + 1));
        const size_t sent = channel.records().size();
        QTest::qWait(100);  // nothing to wait for: nobody may send any more
        QCOMPARE(channel.records().size(), sent);
        QCOMPARE(entries(p.downloads), QStringList());
    }

    void destructionAfterItsThreadEnded() {
        LoopbackChannel channel;
        QThread thread, idle;
        thread.start();
        auto transferor = std::make_shared<FileTransferor>(12, &thread);
        QTRY_VERIFY(channel.isRegistered(12));
        QTest::qWait(50);  // lets the thread start the transferor's timer
        thread.quit();
        thread.wait();
        transferor.reset();
        // And one whose thread never ran.
        auto unstarted = std::make_shared<FileTransferor>(11, &idle);
        unstarted->addTask(source_.filePath("never.bin"));
        unstarted.reset();
        QVERIFY(!channel.isRegistered(12) && !channel.isRegistered(11));
    }
};

QTEST_MAIN(TestFileTransferor)
#include "tst_filetransferor.moc"
