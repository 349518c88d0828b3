#pragma once
// Forms with their components' stored values and the handlers named for
// their events:
//
//   object WebSocketServer1: TwskWebSocketServer
//     LocalPort = 8080
//     OnDataIn = ServerDataIn
//   end
//
// Every line is checked against the class before a component is made, and a
// form is read by making each of its components once: no component is made
// to try a line.
//
// Two readers. The designer's opens what it can: an object of an unknown
// class is left out, a line that names no property or event or holds a value
// of the wrong type is dropped, and each such line is reported by number;
// handler names are kept with the components. A program's reader is strict:
// one bad line, or one handler name the program does not provide, refuses
// the whole form before anything is applied, and it binds each handler name
// to the callable the program registered for its form class.

#include "package/design/form_events.h"
#include "toolkit/component.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace design {

// The components' stored values that differ from their defaults, then the
// handlers set in the designer, in the order of the events.
QString WriteForm(const QList<const toolkit::TComponent*>& components);

struct LoadedForm {
    QList<toolkit::TComponent*> components;  // owned by the owner given to LoadForm
    QStringList problems;                    // "Line 7: ..." in line order; empty for a clean form
};

LoadedForm LoadForm(const QString& text, QObject* owner);

// Reads a form for `form` (which owns the components made), binding handler
// names through `handlers`. Classes are those registered with
// RegisterComponents. Raises EConvertError "Form line N: why" and leaves
// nothing behind on any fault; an engine refusing a value raises its own
// exception, also leaving nothing behind.
QList<toolkit::TComponent*> ReadForm(const QString& text, QObject* form, const TFormHandlers& handlers);
// The same with the handlers registered for the form's own class.
QList<toolkit::TComponent*> ReadForm(const QString& text, QObject* form);

}  // namespace design
