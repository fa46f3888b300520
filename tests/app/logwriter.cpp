// Writes <count> info lines of about <size> bytes each through the process logger, from the
// working directory it is started in, then exits normally (which flushes the log).
#include <string>

#include "core/logger.h"

int main(int argc, char *argv[]) {
    const int count = argc > 1 ? std::stoi(argv[1]) : 1;
    const std::string text(std::size_t(argc > 2 ? std::stoi(argv[2]) : 100), 'x');
    for (int i = 0; i < count; ++i) {
        g_logger->info("line {} {}", i, text);
    }
    return 0;
}
