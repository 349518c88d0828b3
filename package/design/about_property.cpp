#include "package/design/about_property.h"

#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

namespace CorvaneWS {

QString TAboutProperty::GetValue() const
{
    if (!components().isEmpty()) {
        QObject* current = reinterpret_cast<QObject*>(value().value<TAbout*>());
        if (current != nullptr) object_ = current;
    }
    return QString::fromLatin1(kAboutText);
}

void TAboutProperty::SetValue(const QString& text)
{
    qintptr number = 0;
    try {
        number = toolkit::StrToInt(text);
    } catch (const toolkit::EConvertError&) {
        return;
    }
    if (number == 0) return;
    // A number typed here would name an object by its address. Only the
    // address of a component this editor edits is taken; anything else would
    // make Edit call into arbitrary memory.
    for (QObject* c : components())
        if (reinterpret_cast<qintptr>(c) == number) object_ = c;
}

void TAboutProperty::Edit()
{
    if (object_) QMetaObject::invokeMethod(object_.data(), "AboutDlg", Qt::DirectConnection);
}

}  // namespace CorvaneWS
