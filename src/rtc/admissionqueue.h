#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// Who may watch when the host asks before someone watches: the members waiting for the host's
// answer, in the order they came, with the offer each one made (held unanswered until it is
// admitted), and who was admitted in this share. A member admitted once is not asked again when
// it comes back with the same nickname from the same address.
class AdmissionQueue {
public:
    // Enough for every candidate a peer gathers on a few interfaces; more is a stranger's flood.
    static constexpr int kMaxHeldCandidates = 64;

    enum class Kind { Desktop, Mobile, Browser };
    struct Member {
        QString id, nickname, address;
        Kind kind = Kind::Desktop;
    };
    struct Candidate {
        QString candidate;
        int mlineIndex = 0;
        QString mid;
    };
    struct Held {
        QString offer;
        QList<Candidate> candidates;
    };

    bool asking() const { return asking_; }
    void setAsking(bool asking) { asking_ = asking; }

    // Whether the member may have its peer: asking is off, or it was admitted (now, or earlier in
    // this share under the same nickname and address, which admits it again).
    bool mayWatch(const Member &member);
    // Keeps the member's newest offer until the host answers; true when it starts waiting now.
    bool hold(const Member &member, const QString &offer);
    // Keeps a candidate for a waiting member; false when it is not waiting or has too many.
    bool holdCandidate(const QString &id, const Candidate &candidate);
    bool isWaiting(const QString &id) const { return held_.contains(id); }
    QList<Member> waiting() const { return order_; }

    // The member may watch from now on; what it sent while it waited.
    Held admit(const QString &id);
    // Forgets the member (refused, or gone); true when it was waiting.
    bool forget(const QString &id);
    // Forgets the waiting and admitted members that are no longer present; true when the queue
    // changed.
    bool keepOnly(const QSet<QString> &present);

private:
    static QString returning(const Member &member) { return member.nickname + '\n' + member.address; }

    bool asking_ = false;
    QList<Member> order_;
    QHash<QString, Held> held_;
    QSet<QString> admitted_;
    QSet<QString> admittedBefore_;  // nickname and address
};
