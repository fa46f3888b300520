#include "signaling/server/memberorigins.h"

namespace signaling {

void MemberOrigins::set(const QString &id, const Origin &origin) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_origins.insert(id, origin);
}

void MemberOrigins::remove(const QString &id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_origins.remove(id);
}

MemberOrigins::Origin MemberOrigins::find(const QString &id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_origins.value(id);
}

}  // namespace signaling
