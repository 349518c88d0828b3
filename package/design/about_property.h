#pragma once
// The About entry every package component shows in the designer: a property
// of type TAbout that reads as the component itself while designing (null at
// run time), is never stored, and whose editor shows the product and build
// and opens the engine's about box through the component's AboutDlg.

#include "package/design/property_editor.h"

#include <QObject>
#include <QPointer>

namespace CorvaneWS {

// Exists only as the type of the About property. The value a component hands
// out is the component itself, typed TAbout so that the designer picks
// TAboutProperty for it; nothing ever uses it as a TAbout.
class TAbout : public QObject {
    Q_OBJECT
};

inline TAbout* aboutValue(QObject* component) { return reinterpret_cast<TAbout*>(component); }

class TAboutProperty : public design::TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;

    bool AllEqual() const override { return true; }
    design::TPropertyAttributes GetAttributes() const override
    {
        return design::paDialog | design::paReadOnly;
    }
    QString GetValue() const override;
    void SetValue(const QString& text) override;
    void Edit() override;

    QObject* objectValue() const { return object_; }

private:
    mutable QPointer<QObject> object_;
};

inline constexpr const char* kAboutText = "(Corvane WebSocket Server 2020 [Build 7239])";

}  // namespace CorvaneWS
