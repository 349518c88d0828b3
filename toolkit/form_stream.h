#pragma once
// A small form streamer. A form is written as the components it owns, each with
// the stored properties whose value differs from a freshly constructed
// component of the same class; reading creates each component through its
// registered class (so its constructor sets its defaults first) and then
// applies the stored values over them.
//
//   object WebSocketClient1: TwskWebSocketClient
//     AuthScheme = authNone
//     Timeout = 10
//   end
//
// Values: True/False, decimal integers, enumeration identifiers, and texts in
// single quotes with '' for a quote inside.

#include "toolkit/component.h"

#include <QList>
#include <QMetaProperty>
#include <QPair>
#include <QString>
#include <QVariant>

#include <functional>

namespace toolkit {

using ComponentFactory = std::function<TComponent*(QObject* owner)>;
using StoredValues = QList<QPair<QString, QVariant>>;

// Makes `className` (unqualified, as written in forms) creatable by readForm.
void registerComponentClass(const QString& className, ComponentFactory factory);

template <class T>
void registerComponentClass()
{
    QString name = QString::fromLatin1(T::staticMetaObject.className());
    name = name.mid(name.lastIndexOf(u':') + 1);
    registerComponentClass(name, [](QObject* owner) -> TComponent* { return new T(owner); });
}

// The class name under which `component` is written (its meta class, unqualified).
QString componentClassName(const TComponent& component);

// Stored properties of `component` that differ from a fresh instance, in
// declaration order. Raises EArgumentException when the class is not registered.
StoredValues storedDifferences(const TComponent& component);

// Writes values through the meta properties, inside beginLoading/endLoading.
// Unknown names and values that do not convert raise EConvertError.
void applyStoredValues(TComponent& component, const StoredValues& values);

// One value as a form line holds it, and back: the text raises EConvertError
// when `property` cannot take it.
QString formatStoredValue(const QMetaProperty& property, const QVariant& value);
QVariant parseStoredValue(const QMetaProperty& property, const QString& text);

QString writeForm(const QList<const TComponent*>& components);
// Creates the components of `text` owned by `owner`, in the order written.
// Malformed text raises EConvertError; nothing is left behind on failure.
QList<TComponent*> readForm(const QString& text, QObject* owner);

}  // namespace toolkit
