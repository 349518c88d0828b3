#include "exceptions.h"

#include <utility>

namespace toolkit {

Exception::Exception(QString message) { setMessage(std::move(message)); }

void Exception::setMessage(QString message)
{
    message_ = std::move(message);
    utf8_ = message_.toStdString();
}

}  // namespace toolkit
