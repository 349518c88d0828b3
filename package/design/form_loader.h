#pragma once
// Opening a form in the designer: unlike the strict reader of the toolkit,
// which refuses a whole form for one bad line, the designer opens what it
// can. An object of an unknown class is left out, a property line that names
// no property or holds a value of the wrong type is dropped, and each such
// line is reported by number; everything else of the form is kept.

#include "toolkit/component.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace design {

struct LoadedForm {
    QList<toolkit::TComponent*> components;  // owned by the owner given to LoadForm
    QStringList problems;                    // "Line 7: ..." in line order; empty for a clean form
};

LoadedForm LoadForm(const QString& text, QObject* owner);

}  // namespace design
