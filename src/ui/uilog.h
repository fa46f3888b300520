#pragma once

#include <QLoggingCategory>

// Diagnostics of the pages, dialogs and windows, beside the product log:
// QT_LOGGING_RULES="zushare.ui.debug=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcUi)
