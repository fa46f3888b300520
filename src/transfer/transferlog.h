#pragma once

#include <QLoggingCategory>

// Diagnostics of the file transfer ("zushare.transfer"); the product log keeps its own texts.
Q_DECLARE_LOGGING_CATEGORY(lcTransfer)
