#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>
#include <string>

class QWebSocket;
class SignalingBean;

// A mobile member as the host sees one: declares devicetype "1", asks to project its screen,
// waits for its share id, then offers a synthetic moving picture on a peer of its own with
// "share_screen_sdp"/"share_screen_ice_candidate", and ends on "stop_share" from either side.
class MobileMember : public QObject {
    Q_OBJECT
public:
    MobileMember(const QUrl &url, const QString &nickname);
    ~MobileMember() override;

    void start();
    // Ends the projection from this side ("stop_share" to the host).
    void stopShare();

signals:
    void sigFinished(int code);

private:
    void onText(const QString &text);
    void sendBean(const SignalingBean &bean);
    void sendRequest(const char *request, const std::string &target);
    void sendModify(const char *type, const std::string &value);
    void startProjection();
    void endProjection(const char *why);
    void sendLocalSdp(const std::string &type, const std::string &sdp);
    void sendLocalIce(const std::string &candidate, int index, const std::string &mid);

    static void onLocalSdp(const char *type, const char *sdp, void *userData, int tag);
    static void onLocalIce(const char *candidate, int index, const char *mid, void *userData, int tag);
    static void onPeerClosed(void *userData, int tag);

    QUrl m_url;
    QString m_nickname;
    std::unique_ptr<QWebSocket> m_socket;
    std::string m_myId;
    std::string m_ownerId;
    std::string m_shareId;
    int m_pc = 0;
    bool m_asked = false;
};
