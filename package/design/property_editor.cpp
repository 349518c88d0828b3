#include "package/design/property_editor.h"

#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <QMetaEnum>

namespace design {

TPropertyEditor::TPropertyEditor(QList<QObject*> components, QMetaProperty property) : property_(property)
{
    for (QObject* c : components) components_ << QPointer<QObject>(c);
}

TPropertyEditor::~TPropertyEditor() = default;

QList<QObject*> TPropertyEditor::components() const
{
    QList<QObject*> out;
    for (const auto& c : components_)
        if (c) out << c.data();
    return out;
}

TPropertyAttributes TPropertyEditor::GetAttributes() const
{
    TPropertyAttributes a = paMultiSelect | paRevertable;
    if (!property_.isWritable()) a |= paReadOnly;
    return a;
}

QVariant TPropertyEditor::value(int which) const
{
    const QList<QObject*> list = components();
    if (which >= list.size()) return {};
    return property_.read(list[which]);
}

QString TPropertyEditor::GetValue() const { return value().toString(); }

void TPropertyEditor::setValueVariant(const QVariant& v)
{
    for (QObject* c : components()) {
        QVariant typed = v;
        if (!typed.convert(property_.metaType()) || !property_.write(c, typed))
            throw toolkit::EConvertError(
                QStringLiteral("Invalid property value %1 for %2").arg(v.toString(), GetName()));
    }
}

void TPropertyEditor::SetValue(const QString& text) { setValueVariant(text); }

bool TPropertyEditor::AllEqual() const
{
    const QList<QObject*> list = components();
    for (int i = 1; i < list.size(); ++i)
        if (property_.read(list[i]) != property_.read(list[0])) return false;
    return true;
}

void TIntegerProperty::SetValue(const QString& text) { setValueVariant(toolkit::StrToInt(text)); }

TNamedCodeProperty::TNamedCodeProperty(QList<QObject*> components, QMetaProperty property, Codes codes)
    : TIntegerProperty(std::move(components), property), codes_(std::move(codes))
{
}

TPropertyAttributes TNamedCodeProperty::GetAttributes() const { return TIntegerProperty::GetAttributes() | paValueList; }

QString TNamedCodeProperty::display(int code) const
{
    for (const auto& [c, name] : codes_)
        if (c == code) return QStringLiteral("%1 (%2)").arg(code).arg(name);
    return QString::number(code);
}

QString TNamedCodeProperty::GetValue() const { return display(value().toInt()); }

void TNamedCodeProperty::SetValue(const QString& text)
{
    const QString t = text.trimmed();
    for (const auto& [code, name] : codes_)
        if (t.compare(name, Qt::CaseInsensitive) == 0 || t == display(code)) return setValueVariant(code);
    TIntegerProperty::SetValue(t);
}

QStringList TNamedCodeProperty::GetValues() const
{
    QStringList out;
    for (const auto& row : codes_) out << display(row.first);
    return out;
}

TPropertyAttributes TEnumProperty::GetAttributes() const
{
    return TPropertyEditor::GetAttributes() | paValueList | paSortList;
}

QString TEnumProperty::GetValue() const
{
    const int v = value().toInt();
    const char* key = property().enumerator().valueToKey(v);
    return key ? QString::fromLatin1(key) : QString::number(v);
}

void TEnumProperty::SetValue(const QString& text)
{
    bool ok = false;
    const int v = property().enumerator().keyToValue(text.trimmed().toLatin1().constData(), &ok);
    if (!ok)
        throw toolkit::EConvertError(QStringLiteral("Invalid property value %1 for %2").arg(text, GetName()));
    setValueVariant(QVariant(property().metaType(), &v));
}

QStringList TEnumProperty::GetValues() const
{
    QStringList out;
    const QMetaEnum e = property().enumerator();
    for (int i = 0; i < e.keyCount(); ++i) out << QString::fromLatin1(e.key(i));
    return out;
}

TPropertyAttributes TBoolProperty::GetAttributes() const
{
    return TPropertyEditor::GetAttributes() | paValueList;
}

QString TBoolProperty::GetValue() const
{
    return value().toBool() ? QStringLiteral("True") : QStringLiteral("False");
}

void TBoolProperty::SetValue(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return setValueVariant(true);
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return setValueVariant(false);
    throw toolkit::EConvertError(QStringLiteral("Invalid property value %1 for %2").arg(text, GetName()));
}

QStringList TBoolProperty::GetValues() const { return {QStringLiteral("False"), QStringLiteral("True")}; }

}  // namespace design
