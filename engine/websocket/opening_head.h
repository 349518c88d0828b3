// The head of an opening handshake (the client's request or the server's
// answer), read off a stream the same way by both opening stages.
#pragma once

#include "engine/protocol/http_head.h"
#include "engine/transport/byte_stream.h"

#include <string>

namespace corvane::engine {

enum class HeadRead {
    Waiting,     // the stream has nothing more for now
    Whole,       // the head is in parser.head()
    Malformed,   // parser.error() says why
    Ended,       // the stream ended or failed before the head was whole
};

// Reads piece by piece into the parser, keeping the head's bytes in headText.
// Once the head is whole or malformed, reading pauses (the owner decides
// what comes next), and what the last read brought beyond the head, the
// peer's first frames, is in readAhead for the connection.
HeadRead readOpeningHead(ByteStream& stream, protocol::HttpHeadParser& parser, std::string& headText,
                         std::string& readAhead);

} // namespace corvane::engine
