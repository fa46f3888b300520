// Arbitrary text as the signaling client receives it from a server, handled by the client's worker
// exactly as a received WebSocket message would be.
#include <QCoreApplication>
#include <cstdint>

#include "signaling/signalingclientworker.h"

namespace {
QCoreApplication *g_app = nullptr;
SignalingClientWorker *g_client = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static int fakeArgc = 1;
    static char name[] = "fuzz_signaling_client";
    static char *fakeArgv[] = {name, nullptr};
    (void)argc;
    (void)argv;
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    g_app = new QCoreApplication(fakeArgc, fakeArgv);
    g_client = new SignalingClientWorker();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    g_client->onTextMessageReceived(text);
    return 0;
}
