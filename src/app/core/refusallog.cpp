#include "refusallog.h"

#include <chrono>
#include <map>
#include <mutex>

#include "logger.h"

void logRefusal(const std::string &kind, const std::string &line) {
    using Clock = std::chrono::steady_clock;
    struct Seen {
        Clock::time_point last;
        long suppressed = 0;
    };
    static std::mutex mutex;
    static std::map<std::string, Seen> seen;
    long suppressed = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const Clock::time_point now = Clock::now();
        auto it = seen.find(kind);
        if (it != seen.end() && now - it->second.last < std::chrono::seconds(10)) {
            ++it->second.suppressed;
            return;
        }
        if (it == seen.end()) {
            // The kinds are the program's own few texts, so the map stays small.
            it = seen.emplace(kind, Seen{}).first;
        }
        suppressed = it->second.suppressed;
        it->second = Seen{now, 0};
    }
    if (!g_logger) {
        return;
    }
    if (suppressed > 0) {
        g_logger->warn("{} ({} more refused like it before)", line, suppressed);
    } else {
        g_logger->warn("{}", line);
    }
}
