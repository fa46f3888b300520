#pragma once

#include <QtGlobal>

namespace signaling {

// Larger texts are dropped unread; the largest SDP is a few tens of kilobytes.
constexpr int kMaxTextMessageBytes = 1024 * 1024;
// Above this the WebSocket layer itself refuses the message and closes the connection, so that
// nobody on the LAN can make us buffer without bound.
constexpr quint64 kHardMessageLimitBytes = 8ull * 1024 * 1024;

// Relays to a receiver whose unsent output already exceeds this are dropped, so that a flood
// aimed at one participant cannot grow the server's memory without bound.
constexpr qint64 kMaxPendingOutputBytes = 4 * 1024 * 1024;
// What one connection may have relayed: a sustained rate and a burst, in bytes, with a fixed
// charge per message so that floods of tiny messages are bounded too. Real signaling uses a
// tiny fraction of it.
constexpr double kRelayBytesPerSecond = 4.0 * 1024 * 1024;
constexpr double kRelayBurstBytes = 8.0 * 1024 * 1024;
constexpr int kRelayChargePerMessage = 256;

}  // namespace signaling
