#include "package/design/form_events.h"

#include "toolkit/exceptions.h"

#include <QMetaClassInfo>
#include <QRegularExpression>
#include <QVariantMap>

namespace design {

namespace {

// The designer's handler names ride on the component as one dynamic property:
// they die with it, and the form streamer, which writes meta properties only,
// never sees them as values.
constexpr const char* kHandlerNames = "_designEventHandlers";

bool isIdentifier(const QString& text)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return identifier.match(text).hasMatch();
}

}  // namespace

QStringList PublishedEvents(const QMetaObject* meta)
{
    if (meta == nullptr) return {};
    const int index = meta->indexOfClassInfo("PublishedEvents");
    if (index < 0) return {};
    return QString::fromLatin1(meta->classInfo(index).value()).split(u' ', Qt::SkipEmptyParts);
}

QString EventHandlerName(const QObject* component, const QString& event)
{
    return component->property(kHandlerNames).toMap().value(event).toString();
}

void SetEventHandlerName(QObject* component, const QString& event, const QString& handler)
{
    if (!PublishedEvents(component->metaObject()).contains(event))
        throw toolkit::EConvertError(QStringLiteral("%1 has no event %2").arg(component->objectName(), event));
    const QString name = handler.trimmed();
    if (!name.isEmpty() && !isIdentifier(name))
        throw toolkit::EConvertError(QStringLiteral("'%1' is not a valid handler name").arg(name));
    QVariantMap names = component->property(kHandlerNames).toMap();
    if (name.isEmpty()) {
        names.remove(event);
    } else {
        names.insert(event, name);
    }
    component->setProperty(kHandlerNames, names);
}

QList<QPair<QString, QString>> EventHandlerNames(const QObject* component)
{
    QList<QPair<QString, QString>> out;
    const QVariantMap names = component->property(kHandlerNames).toMap();
    for (const QString& event : PublishedEvents(component->metaObject()))
        if (names.contains(event)) out.append({event, names.value(event).toString()});
    return out;
}

const std::type_info& TFormHandlers::type(const QString& name) const
{
    const auto it = entries_.constFind(name);
    return it == entries_.constEnd() ? typeid(void) : *it->type;
}

std::any TFormHandlers::bind(const QString& name, QObject* form) const
{
    const auto it = entries_.constFind(name);
    return it == entries_.constEnd() ? std::any() : it->bind(form);
}

TFormHandlers& FormHandlers(const QString& formClass)
{
    static QHash<QString, TFormHandlers> registry;
    return registry[formClass];
}

}  // namespace design
