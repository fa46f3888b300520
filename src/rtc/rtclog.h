#pragma once

#include <QLoggingCategory>

// Diagnostics of the session managers ("zushare.rtc"); the product log keeps its own texts.
Q_DECLARE_LOGGING_CATEGORY(lcRtc)
