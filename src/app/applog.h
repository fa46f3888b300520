#pragma once

#include <QLoggingCategory>

// Diagnostics of the main window and the program's start, beside the product log:
// QT_LOGGING_RULES="zushare.app.debug=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
