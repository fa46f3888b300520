#pragma once

#include <QString>

// True only when the system reports product version "10"; frameless windows then rely on the
// system's own border instead of drawing one. Always false on Linux builds.
extern bool isWin10;

namespace platformflags {
bool isWindows10Version(const QString &productVersion);
}
