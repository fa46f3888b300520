#include "rtc/admissionqueue.h"

#include <algorithm>

bool AdmissionQueue::mayWatch(const Member &member) {
    if (!m_asking || m_admitted.contains(member.id))
        return true;
    if (!m_held.contains(member.id) && m_admittedBefore.contains(returning(member))) {
        m_admitted.insert(member.id);
        return true;
    }
    return false;
}

bool AdmissionQueue::hold(const Member &member, const QString &offer) {
    auto it = m_held.find(member.id);
    if (it != m_held.end()) {
        // A new offer restarts the negotiation; the candidates of the old one are no use.
        *it = Held{offer, {}};
        return false;
    }
    m_held.insert(member.id, Held{offer, {}});
    m_order.append(member);
    return true;
}

bool AdmissionQueue::holdCandidate(const QString &id, const Candidate &candidate) {
    auto it = m_held.find(id);
    if (it == m_held.end() || it->candidates.size() >= kMaxHeldCandidates)
        return false;
    it->candidates.append(candidate);
    return true;
}

AdmissionQueue::Held AdmissionQueue::admit(const QString &id) {
    const Held held = m_held.take(id);
    const auto member =
        std::find_if(m_order.begin(), m_order.end(), [&](const Member &m) { return m.id == id; });
    if (member != m_order.end()) {
        m_admittedBefore.insert(returning(*member));
        m_order.erase(member);
    }
    m_admitted.insert(id);
    return held;
}

bool AdmissionQueue::forget(const QString &id) {
    m_admitted.remove(id);
    const bool waited = m_held.remove(id) > 0;
    m_order.erase(std::remove_if(m_order.begin(), m_order.end(), [&](const Member &m) { return m.id == id; }),
                  m_order.end());
    return waited;
}

bool AdmissionQueue::keepOnly(const QSet<QString> &present) {
    bool changed = false;
    for (const QString &id : m_held.keys() + m_admitted.values()) {
        if (!present.contains(id))
            changed = forget(id) || changed;
    }
    return changed;
}
