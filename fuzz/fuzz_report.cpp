// Arbitrary bytes as the usage report's state file, which lives where other local users can write.
#include <cstdint>
#include <cstdlib>

#include "report/reportmanager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    // A day is a count since the epoch, never negative in a state this program wrote.
    if (ReportManager::lastReportDay(text) < 0 && !text.contains('-')) {
        std::abort();
    }
    return 0;
}
