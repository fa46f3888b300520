#include "rtc/admissionqueue.h"

#include <algorithm>

bool AdmissionQueue::mayWatch(const Member &member) {
    if (!asking_ || admitted_.contains(member.id))
        return true;
    if (!held_.contains(member.id) && admittedBefore_.contains(returning(member))) {
        admitted_.insert(member.id);
        return true;
    }
    return false;
}

bool AdmissionQueue::hold(const Member &member, const QString &offer) {
    auto it = held_.find(member.id);
    if (it != held_.end()) {
        // A new offer restarts the negotiation; the candidates of the old one are no use.
        *it = Held{offer, {}};
        return false;
    }
    held_.insert(member.id, Held{offer, {}});
    order_.append(member);
    return true;
}

bool AdmissionQueue::holdCandidate(const QString &id, const Candidate &candidate) {
    auto it = held_.find(id);
    if (it == held_.end() || it->candidates.size() >= kMaxHeldCandidates)
        return false;
    it->candidates.append(candidate);
    return true;
}

AdmissionQueue::Held AdmissionQueue::admit(const QString &id) {
    const Held held = held_.take(id);
    const auto member =
        std::find_if(order_.begin(), order_.end(), [&](const Member &m) { return m.id == id; });
    if (member != order_.end()) {
        admittedBefore_.insert(returning(*member));
        order_.erase(member);
    }
    admitted_.insert(id);
    return held;
}

bool AdmissionQueue::forget(const QString &id) {
    admitted_.remove(id);
    const bool waited = held_.remove(id) > 0;
    order_.erase(std::remove_if(order_.begin(), order_.end(), [&](const Member &m) { return m.id == id; }),
                 order_.end());
    return waited;
}

bool AdmissionQueue::keepOnly(const QSet<QString> &present) {
    bool changed = false;
    QStringList known = held_.keys();
    for (const QString &id : qAsConst(admitted_))
        known.append(id);
    for (const QString &id : qAsConst(known)) {
        if (!present.contains(id))
            changed = forget(id) || changed;
    }
    return changed;
}
