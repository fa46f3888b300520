#pragma once

#include <memory>
#include <string>

#include <spdlog/spdlog.h>

// The process-wide log "zu_share", created during static initialisation and used from every thread.
extern std::shared_ptr<spdlog::logger> g_logger;

namespace zulog {

constexpr const char *kLoggerName = "zu_share";
constexpr const char *kLogFile = "logs/zu_share_log.txt";
constexpr std::size_t kMaxFileSize = 50000;
constexpr std::size_t kMaxFiles = 3;

// Builds the logger for a log file relative to the working directory. When the file cannot be
// opened (read-only folder, no permission) the logger has no sink, so the program carries on.
std::shared_ptr<spdlog::logger> createLogger(const std::string &fileName = kLogFile);

}  // namespace zulog
