// Stable error codes of the engine and their texts. Codes never change
// meaning once released: hosts compare them, and EWSKCore carries them.
#pragma once

#include <string>
#include <string_view>

namespace corvane::engine {

enum ErrorCode : int {
    kOk = 0,
    kTimeout = 11,
    kUnknownProperty = 101,
    kReadOnlyProperty = 102,
    kWriteOnlyProperty = 103,
    kInvalidIndex = 104,
    kInvalidValue = 105,
    kUnknownMethod = 106,
    kInvalidArgument = 107,
    kInvalidConfig = 108,
    kNotConnected = 109,
    kAlreadyConnected = 110,
    kInvalidUrl = 111,
    kInterrupted = 112,
    kFileError = 113,
    kBusySending = 114,
    kNotAllowedWhileConnected = 115,
    kConnectFailed = 151,
    kConnectionLost = 152,
    kHandshakeFailed = 153,
    kTlsFailed = 154,
    kCertificateRejected = 155,
    kProxyFailed = 156,
    kAuthNotSupported = 157,
    kAuthFailed = 158,
    kRedirectFailed = 159,
    kProtocolError = 160,
    kMessageTooBig = 161,
    kInvalidUtf8 = 162,
    kSendFailed = 163,
    kSendQueueFull = 164,
    kListenFailed = 165,
    kCertificateStoreError = 166,
    kEventHandlerError = 170,
    // Certificate manager
    kNotACertificate = 201,
    kWrongPassword = 202,
    kNoPrivateKey = 203,
    kBadRequestSignature = 204,
    kNotARequest = 205,
    kNoCertificate = 206,
    kCertificateNotFound = 207,
    kKeyNotFound = 208,
    kKeyExists = 209,
    kStoreError = 210,
    kStoreReadOnly = 211,
    kFileTooLarge = 212,
    kInvalidName = 213,
    kNotACA = 214,
    kKeyMismatch = 215,
    kCryptoFailed = 216,
    kCannotWrite = 217,
    kValidityTooLong = 218,
    kNotAKey = 219,
    kNotAPfx = 220,
};

struct ErrorInfo {
    int code;
    const char* text;   // "%s" is replaced by the detail of the occurrence
};

// The one table of codes and texts; engine/README.md lists the same rows.
const ErrorInfo* errorTable(size_t& count);

// The text for code with detail put in place of %s (detail dropped where the
// text has no %s); unknown codes give "Error <code>".
std::string errorText(int code, std::string_view detail = {});

} // namespace corvane::engine
