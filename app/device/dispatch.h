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
    virtual void uploadResponse(const QByteArray& message) = 0;
    virtual void fileMessage(const QByteArray& message) = 0;
};

// Codes not in the table are dropped. A message shorter than the part its
// code reads raises MessageRangeError; the handler's own failures propagate.
void dispatchMessage(const QByteArray& message, MessageHandler& handler);

// Whether dispatchMessage acts on this code at all.
bool isDispatchedCode(std::uint8_t code);

}  // namespace device
