#include "signalingtypes.h"

namespace signalingtypes {

void registerMetaTypes() {
    static const bool registered = [] {
        qRegisterMetaType<sdpType>("sdpType");
        qRegisterMetaType<SignalingUser>("SignalingUser");
        qRegisterMetaType<QList<SignalingUser>>("QList<SignalingUser>");
        qRegisterMetaType<std::string>("std::string");
        return true;
    }();
    Q_UNUSED(registered);
}

}  // namespace signalingtypes
