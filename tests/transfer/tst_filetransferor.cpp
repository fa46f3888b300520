#include <QtTest>

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstring>

#include "loopbackchannel.h"
#include "transfer/filetransferor.h"
#include "transfer/transferprotocol.h"

using namespace transferprotocol;
using Message = LoopbackChannel::Message;

namespace {

constexpr int kSenderPc = 11;
constexpr int kReceiverPc = 12;
const QString kNameTooLong = QStringLiteral("文件名过长");
const QString kNotAFile = QStringLiteral("不支持发送文件夹！");
const QString kTransferError = QStringLiteral("文件传输过程出错");
const QString kInterrupted = QStringLiteral("文件传输中断");
const QString kSaveFailed = QStringLiteral("保存文件失败！");
const QString kNoSpace = QStringLiteral("磁盘空间不足，保存文件失败！");

// The download folder of QStandardPaths follows HOME when no user-dirs file says otherwise.
void useHome(const QString &home) {
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/.config"));
}

QByteArray randomBytes(qint64 size, quint32 seed) {
    QByteArray bytes(int(size), Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = char(random.generate() & 0xff);
    }
    return bytes;
}

QString writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

QByteArray md5Of(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "missing";
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return hash.result().toHex();
}

QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool isControl(const Message &m) {
    return kindOf(m.data(), m.size()) == PackageKind::Control;
}

bool isData(const Message &m) {
    return kindOf(m.data(), m.size()) == PackageKind::Data;
}

ControlMessage controlOf(const Message &m) {
    ControlMessage message;
    if (!readControl(m.data(), m.size(), message)) {
        message.type = "unreadable";
    }
    return message;
}

// "type/data" of every control message in the list.
QStringList steps(const std::vector<Message> &messages) {
    QStringList out;
    for (const Message &m : messages) {
        if (isControl(m)) {
            const ControlMessage c = controlOf(m);
            out << QString::fromStdString(c.type + "/" + c.data);
        } else if (isData(m)) {
            out << "data";
        }
    }
    return out;
}

Message control(const char *type, const char *data, const std::string &name, int64_t length) {
    Message m(kControlPackageSize);
    if (!writeControl(m.data(), type, data, name, length)) {
        qFatal("control message too long");
    }
    return m;
}

Message chunk(const QByteArray &bytes) {
    Message m(kDataPackageSize, 0);
    std::memcpy(m.data() + kHeaderSize, bytes.constData(), size_t(bytes.size()));
    sealData(m.data(), uint32_t(bytes.size()));
    return m;
}

}  // namespace

// Signals of both transferors, collected on the test's thread.
class Events : public QObject {
    Q_OBJECT
public:
    struct Fail {
        QString path;
        QString error;
        qint64 atMs;
    };
    QList<int> progress;
    int begins = 0;
    QList<Fail> fails;
    QStringList saved;
    QElapsedTimer clock;

    explicit Events(FileTransferor *transferor) {
        clock.start();
        connect(
            transferor, &FileTransferor::sigProgressChanged, this, [this](int v) { progress << v; },
            Qt::QueuedConnection);
        connect(
            transferor, &FileTransferor::sigTransferBegin, this, [this] { ++begins; }, Qt::QueuedConnection);
        connect(
            transferor, &FileTransferor::sigTransferFail, this,
            [this](const QString &path, const QString &error) {
                fails.append({path, error, clock.elapsed()});
            },
            Qt::QueuedConnection);
        connect(
            transferor, &FileTransferor::sigFileSaved, this, [this](const QString &path) { saved << path; },
            Qt::QueuedConnection);
    }
    int completions() const { return progress.count(100); }
};

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// A receiving peer without a transferor: the test speaks the protocol itself.
class RawPeer {
public:
    explicit RawPeer(LoopbackChannel &channel, int pc) : channel_(channel), pc_(pc) {
        channel_.registerReceiver(pc_, &RawPeer::onMessage, buffer_, this, pc_);
    }
    ~RawPeer() { channel_.registerReceiver(pc_, nullptr, nullptr, nullptr, 0); }
    int count() const {
        std::lock_guard<std::mutex> lock(lock_);
        return int(received_.size());
    }
    std::vector<Message> received() const {
        std::lock_guard<std::mutex> lock(lock_);
        return received_;
    }

private:
    static void onMessage(uint8_t *buffer, int length, void *user) {
        auto *self = static_cast<RawPeer *>(user);
        std::lock_guard<std::mutex> lock(self->lock_);
        self->received_.emplace_back(buffer, buffer + length);
    }
    LoopbackChannel &channel_;
    int pc_;
    uint8_t buffer_[ZUWEBRTC_RECEIVE_BUFFER];
    mutable std::mutex lock_;
    std::vector<Message> received_;
};

// Two transferors, each in a worker thread of its own, joined by the loopback channel.
struct Session {
    explicit Session(const QString &home, bool withSender = true) {
        useHome(home);
        channel.link(kSenderPc, kReceiverPc);
        senderThread.start();
        receiverThread.start();
        if (withSender) {
            sender = std::make_shared<FileTransferor>(kSenderPc, &senderThread);
            senderEvents = std::make_unique<Events>(sender.get());
        }
        receiver = std::make_shared<FileTransferor>(kReceiverPc, &receiverThread);
        receiverEvents = std::make_unique<Events>(receiver.get());
    }
    ~Session() {
        sender.reset();
        receiver.reset();
        senderThread.quit();
        receiverThread.quit();
        senderThread.wait();
        receiverThread.wait();
    }
    std::vector<Message> fromSender() const { return channel.sentBy(kSenderPc); }
    std::vector<Message> fromReceiver() const { return channel.sentBy(kReceiverPc); }

    LoopbackChannel channel;
    QThread senderThread;
    QThread receiverThread;
    std::shared_ptr<FileTransferor> sender;
    std::shared_ptr<FileTransferor> receiver;
    std::unique_ptr<Events> senderEvents;
    std::unique_ptr<Events> receiverEvents;
};

class TestFileTransferor : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    QTemporaryDir source_;
    UrlSink urls_;
    int homes_ = 0;

    QString freshHome() {
        const QString path = home_.filePath(QString("home%1").arg(++homes_));
        QDir().mkpath(path);
        return path;
    }
    QString downloads(const QString &home) const { return home + "/Downloads"; }

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        QVERIFY(source_.isValid());
        // Per-chunk traces would only slow the runs down.
        QLoggingCategory::setFilterRules("zushare.transfer.debug=false");
        QDesktopServices::setUrlHandler("file", &urls_, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

    void saveFolderIsTheDownloadFolder() {
        const QString home = freshHome();
        Session s(home);
        QCOMPARE(s.receiver->saveFolder(), downloads(home));
        QCOMPARE(s.receiver->peerConnection(), kReceiverPc);
        QVERIFY(s.channel.isRegistered(kReceiverPc));
        QVERIFY(!s.receiver->isRunning());
    }

    void filesArriveIdentical_data() {
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty") << qint64(0);
        QTest::newRow("one byte") << qint64(1);
        QTest::newRow("one chunk") << qint64(16384);
        QTest::newRow("one chunk and a byte") << qint64(16385);
        QTest::newRow("one package") << qint64(17408);
        QTest::newRow("three MiB and a bit") << qint64(3 * 1024 * 1024 + 123);
    }

    void filesArriveIdentical() {
        QFETCH(qint64, size);
        const QString home = freshHome();
        const QString name = QString("file-%1.bin").arg(size);
        const QString path = writeFile(source_.filePath(name), randomBytes(size, quint32(size) + 7));
        Session s(home);
        const QString target = downloads(home) + "/" + name;

        // While the sender announces the end, the file exists only under its temporary name.
        std::atomic<int> checkedAtEnd{0};
        s.channel.setFilter([&](int from, Message &m) {
            if (from == kSenderPc && isControl(m) && controlOf(m).data == kComplete) {
                const QStringList now = entries(downloads(home));
                const bool temporary =
                    now.size() == 1 && now[0].startsWith(name + ".tmp_") && now[0].size() == name.size() + 6;
                checkedAtEnd = temporary ? 1 : -1;
            }
            return true;
        });
        const int opened = urls_.opened.size();
        s.sender->addTask(path);

        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 20000);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(checkedAtEnd.load(), 1);
        QCOMPARE(s.receiverEvents->saved[0], target);
        QCOMPARE(md5Of(target), md5Of(path));
        QCOMPARE(QFileInfo(target).size(), size);
        QCOMPARE(entries(downloads(home)), QStringList{name});
        QCOMPARE(s.senderEvents->begins, 1);
        QCOMPARE(s.receiverEvents->begins, 1);
        QCOMPARE(s.receiverEvents->completions(), 1);
        QVERIFY(s.senderEvents->fails.isEmpty());
        QVERIFY(s.receiverEvents->fails.isEmpty());
        QTRY_COMPARE(urls_.opened.size(), opened + 1);
        QCOMPARE(urls_.opened.last(), QUrl::fromLocalFile(downloads(home)));
        QTRY_VERIFY(!s.sender->isRunning());
        QVERIFY(!s.receiver->isRunning());

        // The wire: fixed package sizes, chunks of 16384 bytes and one shorter tail.
        s.channel.waitIdle();
        const auto sent = s.fromSender();
        const auto answers = s.fromReceiver();
        const qint64 chunks = (size + 16383) / 16384;
        QStringList expectedSender{"send_req/begin"};
        QStringList expectedReceiver{"receive_resp/begin"};
        for (qint64 i = 0; i < chunks; ++i) {
            expectedSender << "data";
            expectedReceiver << "receive_resp/continue";
        }
        expectedSender << "send_req/complete";
        expectedReceiver << "receive_resp/complete";
        QCOMPARE(steps(sent), expectedSender);
        QCOMPARE(steps(answers), expectedReceiver);
        qint64 total = 0;
        for (const Message &m : sent) {
            QCOMPARE(m.size(), isData(m) ? size_t(17408) : size_t(1024));
            if (isData(m)) {
                uint32_t n = 0;
                std::string digest;
                QVERIFY(readDataHeader(m.data(), m.size(), n, digest));
                QCOMPARE(qint64(n), std::min<qint64>(16384, size - total));
                total += n;
            } else {
                const ControlMessage c = controlOf(m);
                QCOMPARE(c.name, name.toStdString());
                QCOMPARE(c.length, size);
            }
        }
        QCOMPARE(total, size);
        for (const Message &m : answers) {
            QCOMPARE(m.size(), size_t(1024));
            QCOMPARE(controlOf(m).name, name.toStdString());
            QCOMPARE(controlOf(m).length, size);
        }
    }

    void queuedFilesGoOneAfterAnother() {
        const QString home = freshHome();
        const int opened = urls_.opened.size();
        Session s(home);
        s.channel.setDelay(std::chrono::microseconds(200));
        QStringList names{"q1.bin", "q2.bin", "q3.bin"};
        QStringList paths;
        for (int i = 0; i < names.size(); ++i) {
            paths << writeFile(source_.filePath(names[i]), randomBytes(40000 + i * 20000, 100 + i));
        }
        for (const QString &path : paths) {
            s.sender->addTask(path);
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 3, 20000);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 3);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(s.receiverEvents->saved[i], downloads(home) + "/" + names[i]);
            QCOMPARE(md5Of(s.receiverEvents->saved[i]), md5Of(paths[i]));
        }
        // Each offer goes out only after the previous file's "complete" answer came back.
        s.channel.waitIdle();
        int completes = 0;
        int offers = 0;
        for (const auto &record : s.channel.records()) {
            if (!isControl(record.bytes)) {
                continue;
            }
            const ControlMessage c = controlOf(record.bytes);
            if (record.from == kSenderPc && c.data == kBegin) {
                QCOMPARE(c.name, names[offers].toStdString());
                QCOMPARE(offers, completes);
                ++offers;
            } else if (record.from == kReceiverPc && c.data == kComplete) {
                ++completes;
            }
        }
        QCOMPARE(offers, 3);
        QCOMPARE(completes, 3);
        // One batch, one look at the folder.
        QTRY_VERIFY(urls_.opened.size() > opened);
        QCOMPARE(urls_.opened.size(), opened + 1);
    }

    void folderFailsAtOnceAndTheNextStarts() {
        const QString home = freshHome();
        Session s(home);
        const QString folder = source_.filePath("a-folder");
        QDir().mkpath(folder);
        const QString missing = source_.filePath("missing.bin");
        const QString path = writeFile(source_.filePath("after-folder.bin"), randomBytes(5000, 3));
        s.sender->addTask(folder);
        s.sender->addTask(missing);
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 5000);
        QCOMPARE(s.senderEvents->fails.size(), 2);
        QCOMPARE(s.senderEvents->fails[0].path, folder);
        QCOMPARE(s.senderEvents->fails[0].error, kNotAFile);
        QCOMPARE(s.senderEvents->fails[1].path, missing);
        QCOMPARE(s.senderEvents->fails[1].error, kNotAFile);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(md5Of(s.receiverEvents->saved[0]), md5Of(path));
        // Nothing about the refused paths went to the peer.
        QCOMPARE(steps(s.fromSender()).first(), QString("send_req/begin"));
        QCOMPARE(controlOf(s.fromSender().front()).name, std::string("after-folder.bin"));
    }

    void nameLengthLimit() {
        const QString home = freshHome();
        Session s(home);
        // The longest name a Linux file system holds (255 bytes) is sent and stored shortened.
        QString longest;
        for (int i = 0; i < 83; ++i) {
            longest += QStringLiteral("长");
        }
        longest += ".txt";  // 249 + 4 bytes
        const QString longPath = writeFile(source_.filePath(longest), "content");
        // 299 bytes pass the check (the path does not exist here, so the next check fails),
        // 300 bytes do not.
        const QString name299 = QString(299, 'n');
        const QString name300 = QString(300, 'n');
        // A name that only fits in bytes but not once escaped on the wire.
        const QString controls = writeFile(source_.filePath(QString(200, QChar(0x01))), "x");
        s.sender->addTask(source_.filePath(name299));
        s.sender->addTask(source_.filePath(name300));
        s.sender->addTask(controls);
        s.sender->addTask(longPath);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 5000);
        QCOMPARE(s.senderEvents->fails.size(), 3);
        QCOMPARE(s.senderEvents->fails[0].error, kNotAFile);
        QCOMPARE(s.senderEvents->fails[1].path, source_.filePath(name300));
        QCOMPARE(s.senderEvents->fails[1].error, kNameTooLong);
        QCOMPARE(s.senderEvents->fails[2].error, kNameTooLong);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        const QString saved = QFileInfo(s.receiverEvents->saved[0]).fileName();
        QVERIFY(saved.toUtf8().size() <= kMaxDiskNameBytes);
        QVERIFY(saved.endsWith(QStringLiteral("长.txt")));
        QCOMPARE(md5Of(s.receiverEvents->saved[0]), md5Of(longPath));
        // On the wire the name travels whole.
        QCOMPARE(controlOf(s.fromSender().front()).name, longest.toStdString());
    }

    void chineseNameArrivesUnderItsOwnName() {
        const QString home = freshHome();
        Session s(home);
        const QString name = QStringLiteral("报告 二〇二六（终稿）.txt");
        const QString path = writeFile(source_.filePath(name), randomBytes(30000, 9));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->saved.size(), 1, 10000);
        QCOMPARE(s.receiverEvents->saved[0], downloads(home) + "/" + name);
        QCOMPARE(md5Of(downloads(home) + "/" + name), md5Of(path));
        // The offer carries the name as \u escapes only.
        const Message offer = s.fromSender().front();
        const std::string json = controlJson(offer.data(), offer.size());
        for (char c : json) {
            QVERIFY(static_cast<unsigned char>(c) < 0x80);
        }
        QVERIFY(json.find("\\u62a5\\u544a") != std::string::npos);
    }

    void damagedChunkIsRepeatedAndStoredOnce() {
        const QString home = freshHome();
        Session s(home);
        const QString path = writeFile(source_.filePath("damaged-once.bin"), randomBytes(50000, 21));
        std::atomic<int> dataPackages{0};
        s.channel.setFilter([&](int from, Message &m) {
            if (from == kSenderPc && isData(m) && ++dataPackages == 2) {
                m[kHeaderSize + 100] ^= 0x40;
            }
            return true;
        });
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 10000);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(md5Of(s.receiverEvents->saved[0]), md5Of(path));
        QCOMPARE(QFileInfo(s.receiverEvents->saved[0]).size(), qint64(50000));
        s.channel.waitIdle();
        QCOMPARE(steps(s.fromReceiver()),
                 (QStringList{"receive_resp/begin", "receive_resp/continue", "receive_resp/repeat",
                              "receive_resp/continue", "receive_resp/continue", "receive_resp/continue",
                              "receive_resp/complete"}));
        // The resent package is the same package, unchanged.
        const auto sent = s.fromSender();
        QCOMPARE(sent[2], sent[3]);
        QVERIFY(s.senderEvents->fails.isEmpty());
    }

    void fiveDamagedCopiesEndTheFile() {
        const QString home = freshHome();
        Session s(home);
        const QString bad = writeFile(source_.filePath("always-damaged.bin"), randomBytes(40000, 5));
        const QString good = writeFile(source_.filePath("after-damage.bin"), randomBytes(20000, 6));
        std::atomic<int> dataPackages{0};
        s.channel.setFilter([&](int from, Message &m) {
            if (from == kSenderPc && isData(m) && ++dataPackages <= 5) {
                m[kHeaderSize] ^= 0x01;
            }
            return true;
        });
        s.sender->addTask(bad);
        s.sender->addTask(good);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->fails.size(), 1, 5000);
        QCOMPARE(s.receiverEvents->fails[0].error, kTransferError);
        s.channel.waitIdle();
        // Four "repeat" answers, then silence; the partial file is gone.
        QCOMPARE(steps(s.fromReceiver()),
                 (QStringList{"receive_resp/begin", "receive_resp/repeat", "receive_resp/repeat",
                              "receive_resp/repeat", "receive_resp/repeat"}));
        QCOMPARE(entries(downloads(home)), QStringList());
        QVERIFY(!s.receiver->isRunning());

        // The sender learns of it by the silence, then goes on with the next file.
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->fails.size(), 1, 20000);
        QCOMPARE(s.senderEvents->fails[0].path, QString("always-damaged.bin"));
        QCOMPARE(s.senderEvents->fails[0].error, kTransferError);
        QVERIFY(s.senderEvents->fails[0].atMs >= 9000);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->saved.size(), 1, 10000);
        QCOMPARE(s.receiverEvents->saved[0], downloads(home) + "/after-damage.bin");
        QCOMPARE(md5Of(s.receiverEvents->saved[0]), md5Of(good));
        QCOMPARE(s.senderEvents->fails.size(), 1);
    }

    void silentPeerTimesOutOnBothSides() {
        const QString home = freshHome();
        Session s(home);
        const QString path = writeFile(source_.filePath("silenced.bin"), randomBytes(100000, 8));
        std::atomic<int> dataPackages{0};
        s.channel.setFilter([&](int from, Message &m) {
            return !(from == kSenderPc && isData(m) && ++dataPackages >= 3) && dataPackages < 3;
        });
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->begins, 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->fails.size(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->fails.size(), 1, 5000);
        for (const auto &fails : {s.senderEvents->fails, s.receiverEvents->fails}) {
            QCOMPARE(fails[0].path, QString("silenced.bin"));
            QCOMPARE(fails[0].error, kInterrupted);
            QVERIFY2(fails[0].atMs >= 9000, qPrintable(QString::number(fails[0].atMs)));
        }
        QVERIFY(!s.sender->isRunning());
        QVERIFY(!s.receiver->isRunning());
        // Neither a final nor a temporary file stays behind.
        QCOMPARE(entries(downloads(home)), QStringList());
    }

    void unansweredOfferTimesOut_data() {
        QTest::addColumn<bool>("hostReceives");
        QTest::newRow("nobody listens") << false;
        // A host's transferor takes no file from a member: it answers nothing and stores nothing.
        QTest::newRow("a host is offered a file") << true;
    }

    void unansweredOfferTimesOut() {
        QFETCH(bool, hostReceives);
        const QString home = freshHome();
        Session s(home, true);
        if (hostReceives) {
            s.receiver->refuseFiles();
        } else {
            s.receiver.reset();
            QVERIFY(!s.channel.isRegistered(kReceiverPc));
        }
        const QString path = writeFile(source_.filePath("unanswered.bin"), "abc");
        s.sender->addTask(path);
        QVERIFY(QTest::qWaitFor([&] { return s.sender->isRunning(); }, 2000));
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->fails.size(), 1, 20000);
        QCOMPARE(s.senderEvents->fails[0].error, kInterrupted);
        QVERIFY(s.senderEvents->fails[0].atMs >= 9000);
        QVERIFY(!s.sender->isRunning());
        QCOMPARE(steps(s.fromSender()), QStringList{"send_req/begin"});
        QVERIFY(s.fromReceiver().empty());
        QVERIFY(!QFileInfo::exists(downloads(home)) || entries(downloads(home)).isEmpty());
    }

    void stopTaskStopsAtOnceAndSendsNothing() {
        const QString home = freshHome();
        Session s(home);
        s.channel.setDelay(std::chrono::milliseconds(2));
        const QString path = writeFile(source_.filePath("stopped.bin"), randomBytes(4 * 1024 * 1024, 77));
        s.sender->addTask(path);
        QTRY_VERIFY_WITH_TIMEOUT(s.channel.sendCount(kSenderPc) > 5, 5000);
        QVERIFY(s.sender->isRunning());
        s.sender->postStopTask();
        QTRY_VERIFY_WITH_TIMEOUT(!s.sender->isRunning(), 2000);
        const int sentAtStop = s.channel.sendCount(kSenderPc);
        QTest::qWait(1000);
        // Answers still in flight may arrive; none of them makes the sender send again.
        QVERIFY(s.channel.sendCount(kSenderPc) <= sentAtStop);
        QVERIFY(!s.sender->isRunning());
        QVERIFY(s.senderEvents->fails.isEmpty());

        // The queue accepts work again; the receiver gives up the abandoned file for the new one.
        const QString next = writeFile(source_.filePath("after-stop.bin"), randomBytes(3000, 78));
        s.channel.setDelay(std::chrono::microseconds(0));
        s.sender->addTask(next);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->saved.size(), 1, 10000);
        QCOMPARE(md5Of(s.receiverEvents->saved[0]), md5Of(next));
        QCOMPARE(s.receiverEvents->fails.size(), 1);
        QCOMPARE(s.receiverEvents->fails[0].error, kInterrupted);
        QCOMPARE(entries(downloads(home)), QStringList{"after-stop.bin"});
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

    void traversalNamesLandInsideTheDownloadFolder_data() {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("stored");
        QTest::newRow("parents") << "../../x"
                                 << "x";
        QTest::newRow("absolute") << "/etc/x"
                                  << "x";
        QTest::newRow("dotdot") << ".." << QStringLiteral("未命名文件");
        QTest::newRow("inner parents") << "a/../../b"
                                       << "b";
        QTest::newRow("backslashes") << "..\\..\\y"
                                     << "y";
        QTest::newRow("control characters") << QString::fromUtf8("z\n\x01z") << "zz";
    }

    void traversalNamesLandInsideTheDownloadFolder() {
        QFETCH(QString, offered);
        QFETCH(QString, stored);
        const QString home = freshHome();
        Session s(home, false);
        RawPeer peer(s.channel, kSenderPc);
        const QByteArray content = randomBytes(1000, 4);
        const std::string name = offered.toStdString();
        s.channel.inject(kReceiverPc, control(kSendRequest, kBegin, name, content.size()));
        QTRY_COMPARE(peer.count(), 1);
        s.channel.inject(kReceiverPc, chunk(content));
        QTRY_COMPARE(peer.count(), 2);
        s.channel.inject(kReceiverPc, control(kSendRequest, kComplete, name, content.size()));
        QTRY_COMPARE(peer.count(), 3);
        QCOMPARE(steps(peer.received()),
                 (QStringList{"receive_resp/begin", "receive_resp/continue", "receive_resp/complete"}));
        // The answers echo the name as offered.
        QCOMPARE(controlOf(peer.received().back()).name, name);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(s.receiverEvents->saved[0], downloads(home) + "/" + stored);
        QCOMPARE(entries(downloads(home)), QStringList{stored});
        QCOMPARE(md5Of(s.receiverEvents->saved[0]),
                 QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
        QVERIFY(!QFile::exists(home + "/x"));
        QVERIFY(!QFile::exists(home + "/b"));
    }

    void existingFilesAreNeverOverwritten() {
        const QString home = freshHome();
        QDir().mkpath(downloads(home));
        writeFile(downloads(home) + "/report.pdf", "old report");
        writeFile(downloads(home) + "/report (1).pdf", "older copy");
        Session s(home);
        const QString path = writeFile(source_.filePath("report.pdf"), randomBytes(20000, 12));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 10000);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(s.receiverEvents->saved[0], downloads(home) + "/report (2).pdf");
        QCOMPARE(md5Of(downloads(home) + "/report (2).pdf"), md5Of(path));
        QFile old(downloads(home) + "/report.pdf");
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old report"));
        QCOMPARE(entries(downloads(home)), (QStringList{"report (1).pdf", "report (2).pdf", "report.pdf"}));
    }

    // A symlink at the final name, dangling or not, is a taken name: nothing is written through it.
    void symlinksAtTheNameAreNeverFollowed() {
        const QString home = freshHome();
        QDir().mkpath(downloads(home));
        const QString outside = source_.filePath("outside-target.txt");
        QFile::remove(outside);
        QVERIFY(QFile::link(outside, downloads(home) + "/notes.txt"));
        Session s(home);
        const QString path = writeFile(source_.filePath("notes.txt"), randomBytes(5000, 3));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->completions(), 1, 10000);
        QTRY_COMPARE(s.receiverEvents->saved.size(), 1);
        QCOMPARE(s.receiverEvents->saved[0], downloads(home) + "/notes (1).txt");
        QCOMPARE(md5Of(downloads(home) + "/notes (1).txt"), md5Of(path));
        QVERIFY(!QFileInfo::exists(outside));
        QVERIFY(QFileInfo(downloads(home) + "/notes.txt").isSymLink());
    }

    void takenTemporaryNamesAreNeverTruncated() {
        const QString home = freshHome();
        QDir().mkpath(downloads(home));
        for (int digit = 0; digit < 10; ++digit) {
            writeFile(downloads(home) + QString("/busy.bin.tmp_%1").arg(digit), "keep me");
        }
        Session s(home);
        const QString path = writeFile(source_.filePath("busy.bin"), randomBytes(100, 1));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->fails.size(), 1, 5000);
        QCOMPARE(s.receiverEvents->fails[0].path, QString("busy.bin"));
        QCOMPARE(s.receiverEvents->fails[0].error, kSaveFailed);
        for (int digit = 0; digit < 10; ++digit) {
            QFile file(downloads(home) + QString("/busy.bin.tmp_%1").arg(digit));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep me"));
        }
        // The offer was refused.
        s.channel.waitIdle();
        QCOMPARE(steps(s.fromReceiver()), QStringList{"receive_resp/cancel"});
        QVERIFY(!s.receiver->isRunning());
    }

    void missingDownloadFolderIsCreated() {
        const QString home = freshHome();
        QVERIFY(!QFileInfo::exists(downloads(home)));
        Session s(home);
        const QString path = writeFile(source_.filePath("first-download.bin"), randomBytes(0, 1));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->saved.size(), 1, 5000);
        QVERIFY(QFileInfo(downloads(home)).isDir());
        // An empty file that completes exists as an empty file.
        QVERIFY(QFileInfo(downloads(home) + "/first-download.bin").isFile());
        QCOMPARE(QFileInfo(downloads(home) + "/first-download.bin").size(), qint64(0));
        QCOMPARE(steps(s.fromSender()), (QStringList{"send_req/begin", "send_req/complete"}));
    }

    void unusableDownloadFolderFailsClearly() {
        const QString home = freshHome();
        writeFile(downloads(home), "a file where the folder should be");
        Session s(home);
        const QString path = writeFile(source_.filePath("nowhere.bin"), randomBytes(100, 2));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->fails.size(), 1, 5000);
        QCOMPARE(s.receiverEvents->fails[0].path, QString("nowhere.bin"));
        QCOMPARE(s.receiverEvents->fails[0].error, kSaveFailed);
        QCOMPARE(s.receiverEvents->begins, 0);
        // The sender is told at once rather than left to time out.
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->fails.size(), 1, 2000);
        QCOMPARE(s.senderEvents->fails[0].error, kInterrupted);
        QCOMPARE(steps(s.fromReceiver()), QStringList{"receive_resp/cancel"});
        QVERIFY(!s.receiver->isRunning());
        QTRY_VERIFY(!s.sender->isRunning());
    }

    void fullDiskIsToldToTheSender_data() {
        QTest::addColumn<int>("fileKiB");
        QTest::addColumn<bool>("fillDuringTransfer");
        QTest::newRow("larger than the free space") << 6 * 1024 << false;
        QTest::newRow("disk fills during the transfer") << 1024 << true;
    }

    void fullDiskIsToldToTheSender() {
        QFETCH(int, fileKiB);
        QFETCH(bool, fillDuringTransfer);
        // A 4 MiB file system of the harness's own.
        const QString small = qEnvironmentVariable("ZU_TEST_SMALL_FS");
        if (small.isEmpty()) {
            QSKIP("needs the small file system of scripts/test.sh");
        }
        QTemporaryDir home(small + "/home-XXXXXX");
        QVERIFY(home.isValid());
        Session s(home.path());
        const QString filler = home.filePath("filler");
        std::atomic<bool> filled{false};
        s.channel.setFilter([&](int from, Message &m) {
            if (fillDuringTransfer && from == kSenderPc && isData(m) && !filled.exchange(true)) {
                QFile file(filler);
                const QByteArray block(64 * 1024, 'f');
                if (file.open(QIODevice::WriteOnly)) {
                    while (file.write(block) == block.size() && file.flush()) {
                    }
                }
            }
            return true;
        });
        const QString path =
            writeFile(source_.filePath("too-big.bin"), randomBytes(qint64(fileKiB) * 1024, quint32(fileKiB)));
        s.sender->addTask(path);
        QTRY_COMPARE_WITH_TIMEOUT(s.receiverEvents->fails.size(), 1, 5000);
        QCOMPARE(s.receiverEvents->fails[0].error, kNoSpace);
        QTRY_COMPARE_WITH_TIMEOUT(s.senderEvents->fails.size(), 1, 2000);
        QCOMPARE(s.senderEvents->fails[0].error, kInterrupted);
        QCOMPARE(steps(s.fromReceiver()).last(), QString("receive_resp/cancel"));
        if (!fillDuringTransfer) {
            QCOMPARE(steps(s.fromReceiver()).size(), 1);  // refused before a byte was written
        }
        // Nothing partial is left behind.
        QCOMPARE(entries(downloads(home.path())), QStringList());
        QVERIFY(s.receiverEvents->saved.isEmpty());
    }

    void protocolViolationsAreRefused() {
        const QString home = freshHome();
        Session s(home, false);
        RawPeer peer(s.channel, kSenderPc);
        const QByteArray content = randomBytes(3000, 31);

        // Data without an offer is ignored without an answer.
        s.channel.inject(kReceiverPc, chunk(content));
        // Unknown tags and unreadable control messages are ignored.
        Message junk(1024, 'j');
        s.channel.inject(kReceiverPc, junk);
        Message noLength = control(kSendRequest, kBegin, "n", 1);
        const std::string withoutLength = R"({"data":"begin","name":"n","type":"send_req"})";
        std::memset(noLength.data() + kJsonOffset, 0, 1000);
        std::memcpy(noLength.data() + kJsonOffset, withoutLength.data(), withoutLength.size());
        s.channel.inject(kReceiverPc, noLength);
        s.channel.waitIdle();
        QTest::qWait(50);
        QCOMPARE(peer.count(), 0);

        s.channel.inject(kReceiverPc, control(kSendRequest, kBegin, "short.bin", content.size()));
        QTRY_COMPARE(peer.count(), 1);
        // A chunk beyond the announced length is not written and not answered.
        s.channel.inject(kReceiverPc, chunk(content + "more"));
        // A package shorter than its chunk length says.
        Message truncated = chunk(content);
        truncated.resize(kHeaderSize + 100);
        s.channel.inject(kReceiverPc, truncated);
        s.channel.waitIdle();
        QTest::qWait(50);
        QCOMPARE(peer.count(), 1);
        // Half of the file, then "complete": not finished, not answered, not saved.
        s.channel.inject(kReceiverPc, chunk(content.left(1000)));
        QTRY_COMPARE(peer.count(), 2);
        s.channel.inject(kReceiverPc, control(kSendRequest, kComplete, "short.bin", content.size()));
        QTRY_COMPARE(s.receiverEvents->fails.size(), 1);
        QCOMPARE(s.receiverEvents->fails[0].error, kTransferError);
        s.channel.waitIdle();
        QCOMPARE(steps(peer.received()), (QStringList{"receive_resp/begin", "receive_resp/continue"}));
        QCOMPARE(entries(downloads(home)), QStringList());
        QVERIFY(s.receiverEvents->saved.isEmpty());

        // "cancel" from the sender ends the receive and removes the partial file.
        s.channel.inject(kReceiverPc, control(kSendRequest, kBegin, "cancelled.bin", content.size()));
        QTRY_COMPARE(peer.count(), 3);
        s.channel.inject(kReceiverPc, chunk(content.left(10)));
        QTRY_COMPARE(peer.count(), 4);
        QCOMPARE(entries(downloads(home)).size(), 1);
        s.channel.inject(kReceiverPc, control(kSendRequest, kCancel, "cancelled.bin", content.size()));
        QTRY_COMPARE(s.receiverEvents->fails.size(), 2);
        QCOMPARE(s.receiverEvents->fails[1].error, kInterrupted);
        QCOMPARE(entries(downloads(home)), QStringList());
        QVERIFY(!s.receiver->isRunning());
    }

    void lateAnswersForAnotherFileAreIgnored() {
        const QString home = freshHome();
        useHome(home);
        LoopbackChannel channel;
        channel.link(kSenderPc, kReceiverPc);
        RawPeer peer(channel, kReceiverPc);
        QThread thread;
        thread.start();
        auto sender = std::make_shared<FileTransferor>(kSenderPc, &thread);
        Events events(sender.get());
        const QString path = writeFile(source_.filePath("answered.bin"), randomBytes(100, 3));
        sender->addTask(path);
        QTRY_COMPARE(peer.count(), 1);
        channel.inject(kSenderPc, control(kReceiveResponse, kComplete, "other.bin", 100));
        channel.inject(kSenderPc, control(kReceiveResponse, kContinue, "answered.bin", 100));  // wrong step
        channel.waitIdle();
        QTest::qWait(50);
        QCOMPARE(peer.count(), 1);
        channel.inject(kSenderPc, control(kReceiveResponse, kBegin, "answered.bin", 100));
        QTRY_COMPARE(peer.count(), 2);
        QCOMPARE(steps(peer.received()), (QStringList{"send_req/begin", "data"}));
        sender.reset();
        thread.quit();
        thread.wait();
    }

    void destructionMidTransfer() {
        const QString home = freshHome();
        Session s(home);
        s.channel.setDelay(std::chrono::milliseconds(1));
        const QString path = writeFile(source_.filePath("destroyed.bin"), randomBytes(2 * 1024 * 1024, 55));
        s.sender->addTask(path);
        QTRY_VERIFY_WITH_TIMEOUT(s.channel.sendCount(kReceiverPc) > 10, 5000);
        QVERIFY(s.receiver->isRunning());
        QElapsedTimer clock;
        clock.start();
        s.receiver.reset();
        s.sender.reset();
        // Without a one-second sleep per transferor.
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!s.channel.isRegistered(kReceiverPc));
        QVERIFY(!s.channel.isRegistered(kSenderPc));
        const int sent = s.channel.sendCount(kSenderPc) + s.channel.sendCount(kReceiverPc);
        QTest::qWait(100);
        QCOMPARE(s.channel.sendCount(kSenderPc) + s.channel.sendCount(kReceiverPc), sent);
        QCOMPARE(entries(downloads(home)), QStringList());
    }

    void destructionAfterItsThreadEnded() {
        const QString home = freshHome();
        useHome(home);
        LoopbackChannel channel;
        QThread thread;
        thread.start();
        auto transferor = std::make_shared<FileTransferor>(kReceiverPc, &thread);
        QTRY_VERIFY(channel.isRegistered(kReceiverPc));
        QTest::qWait(50);
        thread.quit();
        thread.wait();
        transferor.reset();
        QVERIFY(!channel.isRegistered(kReceiverPc));

        // And one whose thread never ran.
        QThread idle;
        auto unstarted = std::make_shared<FileTransferor>(kSenderPc, &idle);
        unstarted->addTask(source_.filePath("never.bin"));
        unstarted.reset();
        QVERIFY(!channel.isRegistered(kSenderPc));
    }
};

QTEST_MAIN(TestFileTransferor)
#include "tst_filetransferor.moc"
