#pragma once

#include <QtGlobal>

namespace signaling {

// Larger texts are dropped unread; the largest SDP is a few tens of kilobytes.
constexpr int kMaxTextMessageBytes = 1024 * 1024;
// Above this the WebSocket layer itself refuses the message and closes the connection, so that
// nobody on the LAN can make us buffer without bound.
constexpr quint64 kHardMessageLimitBytes = 8ull * 1024 * 1024;

}  // namespace signaling
