#include "engine/websocket/opening_head.h"

namespace corvane::engine {

HeadRead readOpeningHead(ByteStream& stream, protocol::HttpHeadParser& parser, std::string& headText,
                         std::string& readAhead)
{
    using St = protocol::HttpHeadParser::State;
    // A head longer than one piece comes in several reads.
    char piece[16 * 1024];
    for (;;) {
        const int64_t n = stream.read(piece, int64_t(sizeof piece));
        if (n < 0)
            return HeadRead::Ended;
        if (n == 0)
            return HeadRead::Waiting;
        size_t used = 0;
        const St st = parser.feed(reinterpret_cast<const uint8_t*>(piece), size_t(n), used);
        headText.append(piece, used);
        if (st == St::NeedMore)
            continue;
        stream.setReadPaused(true);
        readAhead.assign(piece + used, size_t(n) - used);
        return st == St::Done ? HeadRead::Whole : HeadRead::Malformed;
    }
}

} // namespace corvane::engine
