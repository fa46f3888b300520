#pragma once

#include <QLoggingCategory>

// Diagnostics of discovery, beside the product log: QT_LOGGING_RULES="zushare.scan.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcScan)
