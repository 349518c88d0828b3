#pragma once
// The designer's property list: the selected component's name and published
// properties, one row each, with the editor the design registry gives for the
// property's type (a list for enumerations, a check box for booleans, a line
// for texts and numbers, an ellipsis button for dialog editors such as About).

#include "package/design/property_editor.h"
#include "toolkit/component.h"

#include <QPointer>
#include <QTableWidget>

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

}  // namespace designer
