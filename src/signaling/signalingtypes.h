#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <string>

// The SDP kinds as the rest of the program passes them between threads.
enum sdpType : int { OFFER = 1, ANSWER = 2 };

struct SignalingUser {
    QString id;
    QString nickname;
    int devicetype = 0;  // 1 mobile, 0 other
};

Q_DECLARE_METATYPE(sdpType)
Q_DECLARE_METATYPE(SignalingUser)
Q_DECLARE_METATYPE(QList<SignalingUser>)
Q_DECLARE_METATYPE(std::string)

namespace signalingtypes {
// Registers the carriers under their queued-connection names; safe to call any number of times.
void registerMetaTypes();
}  // namespace signalingtypes
