#pragma once
// How one reply goes onto the wire under the fault options: in which pieces
// (each piece is one WebSocket message, so the tool sees one data event per
// piece at least), after what waits, and whether the link is cut after it.

#include "sim_options.h"

#include <QtGlobal>

namespace recsim {

// A reply without a fragment size still goes in pieces above this size, so the
// engine's send queue never holds a whole large download at once.
inline constexpr qint64 kWholeReplyLimit = 8 << 20;
inline constexpr qint64 kLargeReplyPiece = 1 << 20;

struct Piece {
    qint64 offset = 0;
    qint64 length = 0;
    int waitBeforeMs = 0;  // after the previous piece went out (the first: the latency)
};

// Computed piece by piece, so a large reply in one-byte pieces costs nothing up front.
struct ReplyPlan {
    qint64 total = 0;       // bytes of the reply that go out (fewer than its size when cut)
    qint64 pieceSize = 1;
    int latencyMs = 0;
    qint64 bandwidth = 0;   // bytes per second, 0 unlimited
    bool disconnectAfter = false;  // the reply is cut: close once the pieces are out

    qint64 pieceCount() const { return (total + pieceSize - 1) / pieceSize; }
    Piece piece(qint64 index) const;
};

class ReplyPlanner {
public:
    explicit ReplyPlanner(const SimOptions& options) : options_(options) {}

    ReplyPlan plan(qint64 messageSize);
    bool cutDone() const { return cutDone_; }

private:
    const SimOptions& options_;
    bool cutDone_ = false;
};

}  // namespace recsim
