#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>

#include "signaling/signalingtypes.h"

class RtcManager;
class OriginatorRtcManager;
class ScanServer;
class StdinLines;

// `zushare-cli host`: runs a share without a desktop, answers discovery, prints the members as
// they come and go and sends a file to every member that joins.
class CliHost : public QObject {
    Q_OBJECT
public:
    struct Options {
        quint16 port = 5678;
        bool synthetic = false;
        int width = 1280;
        int height = 720;
        int fps = 30;
        QString sendPath;
        bool discovery = true;
        // Ask on standard input before each member watches ("y", "n", or "a" for all waiting).
        bool askAdmission = false;
        // ZUWEBRTC_SOUND_*: what the members that ask for sound hear.
        int sound = 0;
    };

    explicit CliHost(const Options &options);
    ~CliHost() override;

    // False (with the reason printed) when the share cannot start at all.
    bool start();
    // Ends the share; the tool then exits with exitCode.
    void stop(int exitCode = 0);

signals:
    // The exit code of the tool.
    void sigFinished(int code);

private:
    void onMembers(const QList<SignalingUser> &users);
    void sendToNewMembers();
    void askNextWaiting();
    void onAnswerLine(const QByteArray &line);
    static void onScreenSourceLost(void *self);

    Options options_;
    int capturer_ = 0;
    std::unique_ptr<RtcManager> manager_;
    OriginatorRtcManager *host_ = nullptr;
    std::shared_ptr<ScanServer> scanServer_;
    QHash<QString, QString> members_;
    QSet<QString> sentTo_;
    QSet<QString> peers_;
    QTimer sendTimer_;
    QString asked_;  // the waiting member the last question was about
    std::unique_ptr<StdinLines> answers_;
    bool started_ = false;
    bool stopping_ = false;
    int exitCode_ = 0;
};
