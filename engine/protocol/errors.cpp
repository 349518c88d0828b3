#include "engine/protocol/errors.h"

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
    {kNotACertificate, "Not a certificate: %s."},
    {kWrongPassword, "Wrong or missing password: %s."},
    {kNoPrivateKey, "The certificate has no private key: %s."},
    {kBadRequestSignature, "The certificate request's signature does not verify: %s."},
    {kNotARequest, "Not a certificate request: %s."},
    {kNoCertificate, "No certificate is loaded: %s."},
    {kCertificateNotFound, "Certificate not found: %s."},
    {kKeyNotFound, "Key not found: %s."},
    {kKeyExists, "A key with this name already exists: %s."},
    {kStoreError, "Certificate store error: %s."},
    {kStoreReadOnly, "The store cannot be changed: %s."},
    {kFileTooLarge, "File too large: %s."},
    {kInvalidName, "Invalid distinguished name or subject alternative name: %s."},
    {kNotACA, "The certificate cannot issue certificates: %s."},
    {kKeyMismatch, "The certificate does not belong to the key: %s."},
    {kCryptoFailed, "Cryptographic operation failed: %s."},
    {kCannotWrite, "Cannot write file: %s."},
    {kValidityTooLong, "Validity too long: %s."},
    {kNotAKey, "Not a private key: %s."},
    {kNotAPfx, "Not a PFX (PKCS#12) file: %s."},
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
