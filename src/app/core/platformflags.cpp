#include "platformflags.h"

bool isWin10 = false;

namespace platformflags {

bool isWindows10Version(const QString &productVersion) {
#ifdef Q_OS_WIN
    return productVersion == QLatin1String("10");
#else
    Q_UNUSED(productVersion);
    return false;
#endif
}

}  // namespace platformflags
