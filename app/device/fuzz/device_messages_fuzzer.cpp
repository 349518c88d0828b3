// Feeds arbitrary bytes to the reassembly as a run of data events and
// dispatches whatever comes out complete, the way the link does.
#include "device/dispatch.h"
#include "device/reassembly.h"
#include "device/upload_response.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace {

class Sink final : public device::ReassemblyObserver, public device::MessageHandler {
public:
    void progressMaximum(std::uint32_t) override {}
    void progressPosition(std::uint32_t) override {}
    void sizeLine(const QString&) override {}
    void messageComplete(const QByteArray& message) override
    {
        try {
            device::dispatchMessage(message, *this);
        } catch (const device::MessageRangeError&) {
        }
    }
    void logLine(const QString&) override {}
    void sessionAccepted(const device::SessionRecord&) override {}
    void uploadResponse(const QByteArray& message) override
    {
        const device::UploadResponseRecord r = device::readUploadResponse(message);
        if (r.carriesFile() && r.fileOffset() + r.fileSize() > message.size()) __builtin_trap();
        (void)device::safeFileName(r.fileName);
    }
    void fileMessage(const QByteArray& message) override
    {
        const device::FileRecord f = device::readFileRecord(message);
        if (f.data.size() != qint64(f.dataLength)) __builtin_trap();
    }
};

}  // namespace

// The first byte of each chunk gives the length of the data event that follows.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Sink sink;
    device::Reassembly reassembly(sink, 1 << 16);  // the declared-length limit, small enough to fuzz quickly
    std::size_t at = 0;
    while (at < size) {
        const std::size_t n = data[at] + 1u;
        const std::size_t begin = at + 1;
        const std::size_t end = std::min(size, begin + n);
        reassembly.feed(QByteArray(reinterpret_cast<const char*>(data) + begin, qsizetype(end - begin)));
        if (reassembly.gReceiveLength() > reassembly.gMessageSize()) __builtin_trap();
        at = end;
    }
    return 0;
}
