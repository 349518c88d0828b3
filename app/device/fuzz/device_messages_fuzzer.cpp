// Feeds arbitrary bytes to the reassembly as a run of data events and
// dispatches whatever comes out complete, the way the link does; upload
// responses are handed on in pieces and checked against their head.
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
    // Range errors propagate to the feed, as they do in the link.
    void messageComplete(const QByteArray& message) override { device::dispatchMessage(message, *this); }
    std::uint32_t streamedHead(std::uint8_t code, std::uint32_t declared) override
    {
        return device::streamedHeadSize(code, declared);
    }
    void streamStarted(const QByteArray& head) override { device::dispatchStreamHead(head, *this); }
    void streamData(const QByteArray& bytes, qsizetype offset, qsizetype size) override
    {
        if (!upload || offset < 0 || size < 0 || offset + size > bytes.size()) __builtin_trap();
        uploadResponseData(bytes, offset, size);
    }
    void streamComplete() override { uploadResponseComplete(); }
    void streamDropped() override { uploadResponseLost(); }

    void logLine(const QString&) override {}
    void sessionAccepted(const device::SessionRecord&) override {}
    void fileMessage(const QByteArray& message) override
    {
        const device::FileRecord f = device::readFileRecord(message);
        if (f.data.size() != qint64(f.dataLength)) __builtin_trap();
    }
    void uploadResponseHead(const QByteArray& head) override
    {
        if (upload) __builtin_trap();
        record = device::readUploadResponseHead(head);  // raises for a message too short to be streamed
        if (head.size() != device::kUploadDataOffset) __builtin_trap();
        (void)device::safeFileName(record.fileName);
        upload = true;
        received = 0;
        fileBytes = 0;
        uploadResponseData(head, 0, head.size());
    }
    void uploadResponseData(const QByteArray& bytes, qsizetype offset, qsizetype size) override
    {
        if (!upload) __builtin_trap();
        const auto [start, length] = record.filePart(received, size);
        if (start < 0 || length < 0 || start + length > size) __builtin_trap();
        if (offset + start + length > bytes.size()) __builtin_trap();
        received += size;
        fileBytes += length;
    }
    void uploadResponseComplete() override
    {
        if (!upload || received != qint64(record.declaredLength)) __builtin_trap();
        // The whole file came, and nothing beyond it.
        if (record.carriesFile() && fileBytes != record.fileSize()) __builtin_trap();
        upload = false;
    }
    void uploadResponseLost() override
    {
        if (!upload) __builtin_trap();
        upload = false;
    }

    bool upload = false;
    device::UploadResponseRecord record;
    qint64 received = 0, fileBytes = 0;
};

}  // namespace

// Each data event is a flags byte (bit 0: its place in its WebSocket message
// is known, bit 1: it ends that message, bit 2: a text message), a byte that
// gives its length less one, and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Sink sink;
    device::Reassembly reassembly(sink, 1 << 16);  // the declared-length limit, small enough to fuzz quickly
    std::size_t at = 0;
    while (at + 1 < size) {
        const std::uint8_t flags = data[at];
        const std::size_t n = data[at + 1] + 1u;
        const std::size_t begin = at + 2;
        const std::size_t end = std::min(size, begin + n);
        QByteArray bytes(reinterpret_cast<const char*>(data) + begin, qsizetype(end - begin));
        try {
            if (flags & 1)
                reassembly.feed(device::DataEvent(bytes, (flags & 2) != 0, (flags & 4) ? device::kTextFormat : device::kBinaryFormat));
            else
                reassembly.feed(bytes);
        } catch (const device::MessageRangeError&) {
        }
        if (reassembly.gReceiveLength() > reassembly.gMessageSize()) __builtin_trap();
        if (reassembly.handingOn() != sink.upload) __builtin_trap();
        at = end;
    }
    reassembly.reset();
    if (sink.upload) __builtin_trap();
    return 0;
}
