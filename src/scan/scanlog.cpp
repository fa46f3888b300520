#include "scan/scanlog.h"

Q_LOGGING_CATEGORY(lcScan, "zushare.scan")
