#pragma once

#include <QLoggingCategory>

// Diagnostics of the signaling client and server, beside the product log:
// QT_LOGGING_RULES="zushare.signaling.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcSignaling)
