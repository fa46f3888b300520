#pragma once

#include <QLoggingCategory>

// Diagnostics of the usage report, beside the product log:
// QT_LOGGING_RULES="zushare.report.debug=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcReport)
