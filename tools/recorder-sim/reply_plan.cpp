#include "reply_plan.h"

#include <algorithm>

namespace recsim {

ReplyPlan ReplyPlanner::plan(qint64 messageSize)
{
    ReplyPlan result;
    qint64 total = messageSize;
    if (options_.cutAfter > 0 && !cutDone_ && messageSize > options_.cutAfter) {
        total = options_.cutAfter;
        result.disconnectAfter = true;
        cutDone_ = true;
    }

    qint64 piece = options_.fragmentSize;
    if (piece <= 0) piece = total > kWholeReplyLimit ? kLargeReplyPiece : std::max<qint64>(total, 1);
    // With a bandwidth limit, pieces of at most a twentieth of a second keep the pace even.
    if (options_.bandwidth > 0) piece = std::min(piece, std::max<qint64>(1, options_.bandwidth / 20));

    result.total = total;
    result.pieceSize = piece;
    result.latencyMs = options_.latencyMs;
    result.bandwidth = options_.bandwidth;
    return result;
}

Piece ReplyPlan::piece(qint64 index) const
{
    Piece p;
    p.offset = index * pieceSize;
    p.length = std::min(pieceSize, total - p.offset);
    // Every piece but the first waits as long as the previous one takes at the limit.
    p.waitBeforeMs = index == 0 ? latencyMs : bandwidth > 0 ? int(pieceSize * 1000 / bandwidth) : 0;
    return p;
}

}  // namespace recsim
