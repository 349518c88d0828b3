#include "device/dispatch.h"

#include <algorithm>
#include <iterator>

namespace device {

namespace {

struct Route {
    std::uint8_t code;
    void (*act)(const QByteArray& message, MessageHandler& handler);
};

// One row per code the tool understands; everything else is dropped.
constexpr Route kRoutes[] = {
    {kError,
     [](const QByteArray& m, MessageHandler& h) {
         const ErrorRecord error = readErrorRecord(m);
         h.logLine(QStringLiteral("Error Code = %1").arg(error.code));
         h.logLine(error.text);
     }},
    {kSessionAccepted,
     [](const QByteArray& m, MessageHandler& h) {
         h.logLine(QStringLiteral("Session Accepted"));
         h.sessionAccepted(readSessionRecord(m));
     }},
    {kUploadResponse,
     [](const QByteArray& m, MessageHandler& h) {
         // Only one too short to be streamed comes whole; its head raises.
         dispatchStreamHead(m.left(kUploadDataOffset), h);
         h.uploadResponseData(m, kUploadDataOffset, m.size() - kUploadDataOffset);
         h.uploadResponseComplete();
     }},
    {kCommandComplete, [](const QByteArray&, MessageHandler& h) { h.logLine(QStringLiteral("Command Complete")); }},
    {kFileTransfer, [](const QByteArray& m, MessageHandler& h) { h.fileMessage(m); }},
};

const Route* routeOf(std::uint8_t code)
{
    const auto* it = std::find_if(std::begin(kRoutes), std::end(kRoutes), [code](const Route& r) { return r.code == code; });
    return it == std::end(kRoutes) ? nullptr : it;
}

}  // namespace

bool isDispatchedCode(std::uint8_t code) { return routeOf(code) != nullptr; }

std::uint32_t streamedHeadSize(std::uint8_t code, std::uint32_t declaredLength)
{
    return code == kUploadResponse && declaredLength >= std::uint32_t(kUploadDataOffset) ? kUploadDataOffset : 0;
}

void dispatchStreamHead(const QByteArray& head, MessageHandler& handler)
{
    handler.logLine(QStringLiteral("Upload Responce"));
    handler.uploadResponseHead(head);
}

void dispatchMessage(const QByteArray& message, MessageHandler& handler)
{
    if (message.size() <= kCodeOffset) return;  // no code to read
    if (const Route* route = routeOf(messageCode(message))) route->act(message, handler);
}

}  // namespace device
