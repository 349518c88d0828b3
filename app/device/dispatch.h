#pragma once
// Hands a complete message to the handler its code names, with the line the
// code writes into the link's message log.

#include "device/device_message.h"

#include <QByteArray>
#include <QString>

namespace device {

class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    virtual void logLine(const QString& line) = 0;
    virtual void sessionAccepted(const SessionRecord& record) = 0;
    virtual void fileMessage(const QByteArray& message) = 0;
    // An upload response as it arrives, never held whole: its first 72 bytes
    // (raises MessageRangeError when fewer), then the bytes after them as
    // slices of the data events, then its completion once all its declared
    // bytes are in, or its loss when the rest is not coming.
    virtual void uploadResponseHead(const QByteArray& head) = 0;
    virtual void uploadResponseData(const QByteArray& bytes, qsizetype offset, qsizetype size) = 0;
    virtual void uploadResponseComplete() = 0;
    virtual void uploadResponseLost() = 0;
};

// Codes not in the table are dropped. A message shorter than the part its
// code reads raises MessageRangeError; the handler's own failures propagate.
void dispatchMessage(const QByteArray& message, MessageHandler& handler);

// The leading bytes a message must have in before the rest is handed on as
// it arrives (upload responses with room for their head), or 0 for a message
// that is collected and dispatched whole.
std::uint32_t streamedHeadSize(std::uint8_t code, std::uint32_t declaredLength);
// The head of such a message, to its handler with its log line; its further
// bytes, completion or loss go to the handler's upload-response functions.
void dispatchStreamHead(const QByteArray& head, MessageHandler& handler);

// Whether dispatchMessage acts on this code at all.
bool isDispatchedCode(std::uint8_t code);

}  // namespace device
