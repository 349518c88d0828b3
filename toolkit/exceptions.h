#pragma once
// The toolkit's exception family. Every exception the program shows to the user
// derives from Exception, whose message is the text the error box displays.

#include <QString>

#include <exception>
#include <string>

namespace toolkit {

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

protected:
    void setMessage(QString message);

private:
    QString message_;
    std::string utf8_;
};

// Text that is not a number where a number is needed.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A resource could not be obtained (also used when the engine library is missing).
class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

// A caller passed an argument the callee cannot work with.
class EArgumentException : public Exception {
public:
    using Exception::Exception;
};

// A file could not be read or written; the message carries the system's error text.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace toolkit
