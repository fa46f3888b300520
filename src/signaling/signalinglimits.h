#pragma once

#include <QtGlobal>

namespace signaling {

// A longer nickname is refused and the member keeps its old one: every member list carries it to
// every member.
constexpr int kMaxNicknameChars = 64;

// Larger texts are dropped unread; the largest SDP is a few tens of kilobytes.
constexpr int kMaxTextMessageBytes = 1024 * 1024;
// Above this the WebSocket layer itself refuses the message and closes the connection, so that
// nobody on the LAN can make us buffer without bound.
constexpr quint64 kHardMessageLimitBytes = 8ull * 1024 * 1024;
// A single frame may carry at most one message of the size we relay; a longer message has to come
// in several frames (and is then dropped whole).
constexpr quint64 kMaxFrameBytes = kMaxTextMessageBytes;
// What the server takes in from one connection per event-loop turn. The WebSocket layer only
// decodes a frame once all of it is buffered, so this must hold the largest frame and its header;
// beyond that, a flooding connection is worked off in slices between everybody else's messages.
constexpr qint64 kReadBufferBytes = qint64(kMaxFrameBytes) + 64 * 1024;

// Relays to a receiver whose unsent output already exceeds this are dropped, so that a flood
// aimed at one participant cannot grow the server's memory without bound.
constexpr qint64 kMaxPendingOutputBytes = 4 * 1024 * 1024;
// What one connection may have relayed: a sustained rate and a burst, in bytes, with a fixed
// charge per message so that floods of tiny messages are bounded too. The burst holds one
// message of the largest size relayed; real signaling (a few SDPs and a few dozen candidates per
// member) uses a tiny fraction of it. A connection that goes over it is closed.
constexpr double kRelayBytesPerSecond = 1024.0 * 1024;
constexpr double kRelayBurstBytes = 2.0 * 1024 * 1024;
constexpr int kRelayChargePerMessage = 1024;

// A connection that has not set a nickname this long after it came (a share's own owner excepted)
// is closed, so that idle sockets cannot hold the member slots.
constexpr int kNicknameDeadlineMs = 10000;

// The limits of one server; only a benchmark of the server's own capacity lifts them.
struct RelayLimits {
    double bytesPerSecond = kRelayBytesPerSecond;
    double burstBytes = kRelayBurstBytes;
    int chargePerMessage = kRelayChargePerMessage;
    int nicknameDeadlineMs = kNicknameDeadlineMs;  // 0: none
};

}  // namespace signaling
