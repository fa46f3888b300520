#include "signaling/signalinglog.h"

Q_LOGGING_CATEGORY(lcSignaling, "zushare.signaling")
