#pragma once
// The designer's view of one published property of the selected components:
// what the property grid shows for it (GetValue), what it accepts (SetValue),
// how it is edited (attributes, value list, Edit for a dialog) and whether the
// selected components agree (AllEqual). A designer host asks the registry for
// the editor of each property; packages register their own editors there.

#include <QFlags>
#include <QList>
#include <QMetaProperty>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace design {

enum TPropertyAttribute {
    paValueList = 0x1,     // GetValues lists the accepted texts
    paSubProperties = 0x2,
    paDialog = 0x4,        // Edit opens a dialog (the grid shows an ellipsis button)
    paMultiSelect = 0x8,   // shown when several components are selected
    paSortList = 0x10,
    paReadOnly = 0x20,     // the value cannot be typed into
    paRevertable = 0x40,
};
Q_DECLARE_FLAGS(TPropertyAttributes, TPropertyAttribute)

class TPropertyEditor {
public:
    TPropertyEditor(QList<QObject*> components, QMetaProperty property);
    virtual ~TPropertyEditor();
    TPropertyEditor(const TPropertyEditor&) = delete;
    TPropertyEditor& operator=(const TPropertyEditor&) = delete;

    QString GetName() const { return QString::fromLatin1(property_.name()); }
    const QMetaProperty& property() const { return property_; }
    // The components still alive (a component deleted meanwhile drops out).
    QList<QObject*> components() const;

    virtual TPropertyAttributes GetAttributes() const;
    virtual QString GetValue() const;
    // Writes the text to every selected component; raises EConvertError for
    // a text the property cannot take.
    virtual void SetValue(const QString& text);
    virtual QStringList GetValues() const { return {}; }
    virtual void Edit() {}
    // True when every selected component holds the same value.
    virtual bool AllEqual() const;

protected:
    QVariant value(int which = 0) const;
    void setValueVariant(const QVariant& value);

private:
    QList<QPointer<QObject>> components_;
    QMetaProperty property_;
};

// The editors a plain property gets when nothing more specific is registered.
class TIntegerProperty : public TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;
    void SetValue(const QString& text) override;
};

// An integer code whose meaningful values have names: shown as "6 (PEM file)",
// listed by those, and taken as the number, the name or both; a code without
// a name is shown and taken as its number.
class TNamedCodeProperty : public TIntegerProperty {
public:
    using Codes = QList<QPair<int, QString>>;
    TNamedCodeProperty(QList<QObject*> components, QMetaProperty property, Codes codes);
    TPropertyAttributes GetAttributes() const override;
    QString GetValue() const override;
    void SetValue(const QString& text) override;
    QStringList GetValues() const override;

private:
    QString display(int code) const;
    Codes codes_;
};

class TStringProperty : public TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;
};

// Enumerations and booleans: a list of names to choose from.
class TEnumProperty : public TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() const override;
    QString GetValue() const override;
    void SetValue(const QString& text) override;
    QStringList GetValues() const override;
};

class TBoolProperty : public TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;
    TPropertyAttributes GetAttributes() const override;
    QString GetValue() const override;
    void SetValue(const QString& text) override;
    QStringList GetValues() const override;
};

}  // namespace design

Q_DECLARE_OPERATORS_FOR_FLAGS(design::TPropertyAttributes)
