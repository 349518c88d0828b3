#pragma once
// The designer host's window: the palette of the loaded packages on the left,
// the form in the middle (non-visual components shown as named icons), the
// selected component's properties on the right; forms are saved and opened
// with the toolkit's form streamer.

#include "property_grid.h"
#include "toolkit/component.h"

#include <QMainWindow>

class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTreeWidget;

namespace designer {

class DesignerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit DesignerWindow(QWidget* parent = nullptr);
    ~DesignerWindow() override;

    // Loads a package and lists its palette; false (after telling the user) when it cannot.
    bool loadPackage(const QString& path);
    void refreshPalette();

    // Places a new component of the registered class on the form; nullptr
    // (after telling the user) when the class cannot be created.
    toolkit::TComponent* addComponent(const QString& className);
    void selectComponent(toolkit::TComponent* component);
    void deleteSelected();

    QList<toolkit::TComponent*> components() const;
    QString formText() const;
    bool saveForm(const QString& path);
    bool openForm(const QString& path);
    void newForm();

    QTreeWidget* palette() const { return palette_; }
    QListWidget* formView() const { return formView_; }
    PropertyGrid* propertyGrid() const { return grid_; }
    EventGrid* eventGrid() const { return events_; }
    QTabWidget* inspector() const { return inspector_; }

    // Unsaved changes: the title shows the modified mark, and closing, a new
    // form or opening another asks first.
    bool modified() const { return isWindowModified(); }
    // True when the form may go: nothing unsaved, saved now, or discarded.
    bool mayDiscardForm();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void markModified();
    bool saveWithDialog(bool askForName);
    void buildMenus();
    void addToView(toolkit::TComponent* component);
    void updateItem(toolkit::TComponent* component);
    QString uniqueName(const QString& className) const;
    void updateTitle();

    QObject formRoot_;  // owns the form's components
    QTreeWidget* palette_;
    QListWidget* formView_;
    PropertyGrid* grid_;
    EventGrid* events_;
    QTabWidget* inspector_;
    QString formPath_;
};

}  // namespace designer
