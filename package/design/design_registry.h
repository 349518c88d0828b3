#pragma once
// The designer's registry: component classes by palette page, in the order
// they were registered, and property editors chosen by the property's type,
// the component class and the property name. A package's Register procedure
// fills it; a designer host reads it.
//
// Editor lookup: among the editors registered for the property's type, one
// registered for the component's class (or a base of it) and the property's
// name wins over one for the class alone, which wins over one for the name
// alone, which wins over one for any class and any name; among equals the
// later registration wins, so a package can override a built-in editor.

#include "package/design/property_editor.h"
#include "toolkit/component.h"

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace design {

using EditorFactory = std::function<std::unique_ptr<TPropertyEditor>(QList<QObject*>, QMetaProperty)>;

template <class E>
EditorFactory editorFactory()
{
    return [](QList<QObject*> components, QMetaProperty property) -> std::unique_ptr<TPropertyEditor> {
        return std::make_unique<E>(std::move(components), property);
    };
}

// Puts each class on `page` (after what the page already holds) and makes it
// creatable by name for forms. Every class must be a toolkit::TComponent with
// a Q_INVOKABLE constructor taking its owner.
void RegisterComponents(const QString& page, const QList<const QMetaObject*>& classes);

// `propertyType` is the property's type name as Qt spells it
// ("CorvaneWS::TAbout*"); a null class means any class, an empty name any name.
void RegisterPropertyEditor(const QByteArray& propertyType, const QMetaObject* componentClass,
                            const QString& propertyName, EditorFactory factory);

QStringList PalettePages();
QList<const QMetaObject*> PaletteClasses(const QString& page);
// The class registered under its unqualified name ("TwskWebSocketServer"), or null.
const QMetaObject* FindClass(const QString& className);
QString ClassName(const QMetaObject* meta);  // unqualified

// A new component of `meta` owned by `owner`, in design state when `designing`.
toolkit::TComponent* CreateComponent(const QMetaObject* meta, QObject* owner, bool designing);

// The published properties a designer lists for `component`: its own Q_PROPERTYs
// (QObject's objectName is the component's name, shown apart).
QList<QMetaProperty> PublishedProperties(const QObject* component);

// The editor for `property` of the selected components: the most specific
// registered one, else a built-in one for its type.
std::unique_ptr<TPropertyEditor> EditorFor(const QList<QObject*>& components, const QMetaProperty& property);

// Empties the registry (tests; a host unloading its packages).
void ClearRegistry();

}  // namespace design
