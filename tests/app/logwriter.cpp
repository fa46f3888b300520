// Logs <count> info lines of about <size> bytes from its working directory; the normal exit flushes.
#include <string>

#include "core/logger.h"

int main(int argc, char *argv[]) {
    const std::string text(std::size_t(argc > 2 ? std::stoi(argv[2]) : 100), 'x');
    for (int i = 0; i < (argc > 1 ? std::stoi(argv[1]) : 1); ++i) {
        g_logger->info("line {} {}", i, text);
    }
    return 0;
}
