#include "signaling/server/memberorigins.h"

namespace signaling {

void MemberOrigins::set(const QString &id, const Origin &origin) {
    std::lock_guard<std::mutex> lock(mutex_);
    origins_.insert(id, origin);
}

void MemberOrigins::remove(const QString &id) {
    std::lock_guard<std::mutex> lock(mutex_);
    origins_.remove(id);
}

MemberOrigins::Origin MemberOrigins::find(const QString &id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return origins_.value(id);
}

}  // namespace signaling
