#include "logger.h"

#include <cstdio>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>

namespace zulog {

std::shared_ptr<spdlog::logger> createLogger(const std::string &fileName) {
    std::shared_ptr<spdlog::logger> logger;
    try {
        auto sink =
            std::make_shared<spdlog::sinks::rotating_file_sink_mt>(fileName, kMaxFileSize, kMaxFiles, false);
        logger = std::make_shared<spdlog::logger>(kLoggerName, std::move(sink));
    } catch (const spdlog::spdlog_ex &e) {
        std::fprintf(stderr, "zu_share: log file unavailable, continuing without it: %s\n", e.what());
        logger = std::make_shared<spdlog::logger>(kLoggerName);
    }
    // The registry gives the logger its default level and formatter; the lines of the log end with
    // CR LF whatever the platform, so that the files read the same everywhere.
    if (!spdlog::get(kLoggerName)) {
        spdlog::initialize_logger(logger);
    }
    logger->set_formatter(
        std::make_unique<spdlog::pattern_formatter>("%+", spdlog::pattern_time_type::local, "\r\n"));
    // Lines are few and are read when something went wrong: none may wait in a buffer for a crash.
    logger->flush_on(spdlog::level::info);
    return logger;
}

}  // namespace zulog

std::shared_ptr<spdlog::logger> g_logger = zulog::createLogger();
