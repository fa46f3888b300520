// Arbitrary bytes through the discovery datagram reader used by the responder and the scanner:
// whatever it accepts must survive being written and read again with the same verdict.
#include <cstdint>
#include <cstdlib>

#include "scan/scandatagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    ScanDatagram datagram;
    if (!ScanDatagram::parse(bytes, datagram)) {
        if (datagram.isQuery() || datagram.isServer() || datagram.hasMsgId) {
            std::abort();
        }
        return 0;
    }
    if (datagram.isQuery() && datagram.isServer()) {
        std::abort();
    }
    const QByteArray written = ScanDatagram::encode(datagram.msgType, datagram.msgId);
    ScanDatagram again;
    if (!ScanDatagram::parse(written, again) && written.size() <= ScanDatagram::kMaxSize) {
        std::abort();
    }
    if (written.size() <= ScanDatagram::kMaxSize &&
        (again.msgType != datagram.msgType || again.msgId != datagram.msgId ||
         again.isQuery() != datagram.isQuery() || again.isServer() != datagram.isServer() ||
         !written.endsWith('\n'))) {
        std::abort();
    }
    return 0;
}
