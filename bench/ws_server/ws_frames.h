// Frame bytes of the benchmark's clients: what they send, and a parser that
// only follows frame boundaries of what they receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace ws_bench {

// A client's frame: FIN, the opcode, the mask bit with the zero key, payload.
inline std::string clientFrame(uint8_t opcode, const std::string& payload, bool fin = true)
{
    std::string f(1, char((fin ? 0x80 : 0) | opcode));
    const uint64_t n = payload.size();
    if (n < 126) {
        f += char(0x80 | n);
    } else if (n < 65536) {
        f += char(0x80 | 126);
        f += char(n >> 8);
        f += char(n & 0xff);
    } else {
        f += char(0x80 | 127);
        for (int i = 7; i >= 0; --i)
            f += char((n >> (8 * i)) & 0xff);
    }
    f.append(4, '\0');
    return f + payload;
}

inline std::string handshakeRequest(const std::string& path = "/")
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// Follows the frames of a byte stream; counts complete data messages.
class FrameFollower {
public:
    // Returns the data messages completed by these bytes; closed becomes true
    // at a close frame.
    int feed(const uint8_t* p, size_t n)
    {
        int done = 0;
        while (n > 0) {
            if (!inPayload_) {
                const size_t take = std::min(need_ - have_, n);
                std::memcpy(header_ + have_, p, take);
                have_ += take;
                p += take;
                n -= take;
                if (have_ < need_)
                    continue;
                if (have_ == 2) {
                    const int len7 = header_[1] & 0x7f;
                    need_ = 2 + (len7 == 126 ? 2 : len7 == 127 ? 8 : 0) + ((header_[1] & 0x80) ? 4 : 0);
                    if (have_ < need_)
                        continue;
                }
                const int len7 = header_[1] & 0x7f;
                uint64_t len = uint64_t(len7);
                if (len7 == 126)
                    len = (uint64_t(header_[2]) << 8) | header_[3];
                else if (len7 == 127) {
                    len = 0;
                    for (int i = 0; i < 8; ++i)
                        len = (len << 8) | header_[2 + i];
                }
                fin_ = header_[0] & 0x80;
                opcode_ = header_[0] & 0x0f;
                left_ = len;
                have_ = 0;
                need_ = 2;
                inPayload_ = true;
            } else {
                const uint64_t take = std::min<uint64_t>(left_, n);
                left_ -= take;
                p += take;
                n -= size_t(take);
            }
            if (inPayload_ && left_ == 0) {
                inPayload_ = false;
                if (opcode_ == 8)
                    closed = true;
                else if (opcode_ < 8 && fin_)
                    ++done;
            }
        }
        return done;
    }
    bool closed = false;

private:
    uint8_t header_[14] = {};
    size_t have_ = 0;
    size_t need_ = 2;
    uint64_t left_ = 0;
    bool inPayload_ = false;
    bool fin_ = false;
    int opcode_ = 0;
};

} // namespace ws_bench
