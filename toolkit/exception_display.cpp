#include "exception_display.h"

#include "exceptions.h"
#include "user_interaction.h"

namespace toolkit {

void showException(const std::exception& e, QWidget* parent)
{
    const auto* own = dynamic_cast<const Exception*>(&e);
    const QString text = own ? own->message() : QString::fromUtf8(e.what());
    userInteraction().error(parent, text);
}

}  // namespace toolkit
