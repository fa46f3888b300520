// Writes <count> info lines of about <size> bytes each through the process logger, from the
// working directory it is started in, then exits normally (which flushes the log).
#include <cstdlib>
#include <string>

#include "core/logger.h"

int main(int argc, char *argv[])
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1;
    const int size = argc > 2 ? std::atoi(argv[2]) : 100;
    const std::string text(static_cast<std::size_t>(size > 0 ? size : 1), 'x');
    for (int i = 0; i < count; ++i) {
        g_logger->info("line {} {}", i, text);
    }
    return 0;
}
