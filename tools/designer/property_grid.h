#pragma once
// The designer's property list: the selected component's name and published
// properties, one row each, with the editor the design registry gives for the
// property's type (a list for enumerations, a check box for booleans, a line
// for texts and numbers, an ellipsis button for dialog editors such as About).

#include "package/design/property_editor.h"
#include "toolkit/component.h"

#include <QPointer>
#include <QTableWidget>

#include <functional>
#include <memory>
#include <vector>

namespace designer {

class PropertyGrid : public QTableWidget {
    Q_OBJECT

public:
    explicit PropertyGrid(QWidget* parent = nullptr);
    ~PropertyGrid() override;

    void showComponent(toolkit::TComponent* component);  // nullptr empties the grid
    toolkit::TComponent* component() const { return component_; }
    // The row of `property` ("Name" for the component's name), or -1.
    int rowOf(const QString& property) const;
    // Re-reads every value from the component.
    void refresh();

signals:
    void renamed(toolkit::TComponent* component);
    void edited(toolkit::TComponent* component);

private:
    void addNameRow();
    void addEditorRow(std::unique_ptr<design::TPropertyEditor> editor);
    void apply(design::TPropertyEditor* editor, const QString& text);

    QPointer<toolkit::TComponent> component_;
    std::vector<std::unique_ptr<design::TPropertyEditor>> editors_;
};

// The designer's event list: the selected component's published events, one
// row each, with the handler name the form stores for it. The user types a
// name or picks one: the name the designer suggests (the component's name
// and the event's), or a handler already named on the form. An empty name
// leaves the event unset, and an unset event is not written to the form.
class EventGrid : public QTableWidget {
    Q_OBJECT

public:
    explicit EventGrid(QWidget* parent = nullptr);

    void showComponent(toolkit::TComponent* component);  // nullptr empties the list
    // The handler names used anywhere on the form, offered in every row.
    void setFormHandlers(std::function<QStringList()> names) { formHandlers_ = std::move(names); }
    int rowOf(const QString& event) const;

signals:
    void edited(toolkit::TComponent* component);

private:
    void apply(const QString& event, const QString& name);

    QPointer<toolkit::TComponent> component_;
    std::function<QStringList()> formHandlers_;
};

}  // namespace designer
