#include "engine/src/errors.h"

#include <iterator>

namespace corvane::engine {

namespace {
const ErrorInfo kErrors[] = {
    {kOk, "OK"},
    {kTimeout, "Timeout"},
    {kUnknownProperty, "Unknown property: %s."},
    {kReadOnlyProperty, "Property is read-only: %s."},
    {kWriteOnlyProperty, "Property is write-only: %s."},
    {kInvalidIndex, "Invalid array index (%s)."},
    {kInvalidValue, "Invalid value for %s."},
    {kUnknownMethod, "Unknown method: %s."},
    {kInvalidArgument, "Invalid argument: %s."},
    {kInvalidConfig, "Unknown or invalid configuration setting: %s."},
    {kNotConnected, "Not connected."},
    {kAlreadyConnected, "Already connected."},
    {kInvalidUrl, "Invalid WebSocket URL: %s."},
    {kInterrupted, "Operation interrupted."},
    {kFileError, "Cannot read file: %s."},
    {kBusySending, "A file is being sent; try again when it is done."},
    {kNotAllowedWhileConnected, "Cannot change %s while connected."},
    {kConnectFailed, "Could not connect: %s."},
    {kConnectionLost, "Connection lost: %s."},
    {kHandshakeFailed, "WebSocket handshake failed: %s."},
    {kTlsFailed, "TLS error: %s."},
    {kCertificateRejected, "Server certificate rejected: %s."},
    {kProxyFailed, "Proxy or firewall error: %s."},
    {kAuthNotSupported, "Authentication scheme not supported: %s."},
    {kAuthFailed, "Authentication failed: %s."},
    {kRedirectFailed, "Redirect not followed: %s."},
    {kProtocolError, "WebSocket protocol error: %s."},
    {kMessageTooBig, "Message too big: %s."},
    {kInvalidUtf8, "Invalid UTF-8 in text: %s."},
    {kSendFailed, "Send failed: %s."},
    {kSendQueueFull, "Send queue full: %s."},
    {kListenFailed, "Cannot listen: %s."},
    {kCertificateStoreError, "Certificate store error: %s."},
    {kEventHandlerError, "%s"},
};
} // namespace

const ErrorInfo* errorTable(size_t& count)
{
    count = std::size(kErrors);
    return kErrors;
}

std::string errorText(int code, std::string_view detail)
{
    for (const ErrorInfo& e : kErrors) {
        if (e.code != code)
            continue;
        std::string text(e.text);
        const size_t at = text.find("%s");
        if (at != std::string::npos)
            text.replace(at, 2, detail);
        return text;
    }
    return "Error " + std::to_string(code);
}

} // namespace corvane::engine
