// Method 2003, the host's text decoding: a length query, then the copy into
// the host's buffer, for every code page, with buffers shorter and longer than
// the text. Byte 0 picks the code page and the buffer size; the rest are the
// bytes to decode.
#include "engine/fuzz/fuzz_engine_object.h"

#include <cstdint>
#include <cstring>
#include <vector>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace corvane::engine;

namespace {

// One Do(2003) call: argv = {bytes, buffer, length out}, arglen = {byte count, buffer size}.
qsizetype decode(FuzzObject& o, const char* bytes, int n, char16_t* buffer, int bufferSize)
{
    void* argv[3] = {const_cast<char*>(bytes), buffer, nullptr};
    int arglen[3] = {n, bufferSize, 0};
    FUZZ_CHECK(o.doMethod(kDecodeTextMethod, 2, argv, arglen) == 0);
    return qsizetype(reinterpret_cast<intptr_t>(argv[2]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    static const char* const codePages[] = {"0", "65001", "28591", "20127"};
    const char* codePage = codePages[data[0] & 3];
    const bool latin = (data[0] & 3) >= 2;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const int n = int(size - 1);

    FuzzObject o;
    QString answer;
    FUZZ_CHECK(o.configure(QStringLiteral("CodePage=") + QLatin1String(codePage), answer) == 0);

    const QString expected = latin ? QString::fromLatin1(bytes, n) : QString::fromUtf8(bytes, n);
    const qsizetype length = decode(o, bytes, n, nullptr, 0);
    FUZZ_CHECK(length == expected.size());

    // The host's buffer: as asked, or cut short, with a guard after it.
    const int bufferSize = (data[0] & 4) ? int(length) : int(length / 2);
    std::vector<char16_t> buffer(size_t(bufferSize) + 8, u'\xFFFF');
    if (bufferSize > 0) {
        FUZZ_CHECK(decode(o, bytes, n, buffer.data(), bufferSize) == length);
        FUZZ_CHECK(std::memcmp(buffer.data(), expected.utf16(), size_t(bufferSize) * sizeof(char16_t)) == 0);
        for (size_t k = size_t(bufferSize); k < buffer.size(); ++k) FUZZ_CHECK(buffer[k] == u'\xFFFF');
    }
    // A null byte pointer and an empty text decode to nothing.
    FUZZ_CHECK(decode(o, nullptr, n, nullptr, 0) == 0);
    return 0;
}
