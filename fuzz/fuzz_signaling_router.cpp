// Arbitrary text from any participant through the server's router, over a connection table of
// an owner, a plain member and a projecting member. Sockets are real but never connected, so
// every reply is built and serialised without reaching a network. Whatever arrives, the table
// keeps its records and their ids: only the manager may add or remove them.
#include <QCoreApplication>
#include <QWebSocket>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "signaling/server/serversignalingprocessor.h"

namespace {

using Table = QHash<QString, signaling::Connection>;

const QString kOwner = QStringLiteral("{00000000-0000-0000-0000-00000000000a}");
const QString kMember = QStringLiteral("{00000000-0000-0000-0000-00000000000b}");
const QString kProjecting = QStringLiteral("{00000000-0000-0000-0000-00000000000c}");

QCoreApplication *g_app = nullptr;
QWebSocket *g_sockets[3] = {};

void fill(Table &table) {
    table.clear();
    const QString ids[3] = {kOwner, kMember, kProjecting};
    for (int i = 0; i < 3; ++i) {
        signaling::Connection c;
        c.id = ids[i];
        c.ownerId = kOwner;
        c.socket = g_sockets[i];
        table.insert(c.id, c);
    }
    table[kProjecting].shareId = QStringLiteral("{00000000-0000-0000-0000-0000000000ff}");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static int fakeArgc = 1;
    static char name[] = "fuzz_signaling_router";
    static char *fakeArgv[] = {name, nullptr};
    (void)argc;
    (void)argv;
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    g_app = new QCoreApplication(fakeArgc, fakeArgv);
    for (auto &socket : g_sockets) {
        socket = new QWebSocket();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static auto table = std::make_shared<Table>();
    static signaling::ServerSignalingProcessor router(table);
    fill(*table);
    const QString from[3] = {kOwner, kMember, kProjecting};
    const signaling::Connection sender = table->value(from[data[0] % 3]);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), int(size - 1));
    router.onMsg(sender, text);
    if (table->size() != 3) {
        std::abort();
    }
    for (const QString &id : from) {
        auto it = table->constFind(id);
        if (it == table->constEnd() || it->id != id || it->ownerId != kOwner) {
            std::abort();
        }
    }
    return 0;
}
