#include "property_grid.h"

#include "package/design/design_registry.h"
#include "package/design/form_events.h"
#include "toolkit/exceptions.h"
#include "toolkit/user_interaction.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>

namespace designer {

PropertyGrid::PropertyGrid(QWidget* parent) : QTableWidget(parent)
{
    setObjectName(QStringLiteral("propertyGrid"));
    setColumnCount(2);
    setHorizontalHeaderLabels({tr("Property"), tr("Value")});
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

PropertyGrid::~PropertyGrid() = default;

void PropertyGrid::showComponent(toolkit::TComponent* component)
{
    component_ = component;
    // The cells go at once, before their editors: the view would only retire
    // them later, and until then they could still call into the editors.
    for (int r = 0; r < rowCount(); ++r) delete cellWidget(r, 1);
    setRowCount(0);
    editors_.clear();
    if (component == nullptr) return;
    addNameRow();
    for (const QMetaProperty& p : design::PublishedProperties(component)) addEditorRow(design::EditorFor({component}, p));
}

int PropertyGrid::rowOf(const QString& property) const
{
    for (int r = 0; r < rowCount(); ++r)
        if (item(r, 0) && item(r, 0)->text() == property) return r;
    return -1;
}

void PropertyGrid::refresh() { showComponent(component_); }

void PropertyGrid::addNameRow()
{
    const int row = rowCount();
    insertRow(row);
    setItem(row, 0, new QTableWidgetItem(QStringLiteral("Name")));
    auto* edit = new QLineEdit(component_->name());
    edit->setObjectName(QStringLiteral("edit_Name"));
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
        const QString name = edit->text().trimmed();
        static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
        if (!component_ || name == component_->name()) return;
        if (!identifier.match(name).hasMatch()) {
            toolkit::userInteraction().error(this, tr("'%1' is not a valid component name.").arg(name));
            edit->setText(component_->name());
            return;
        }
        if (QObject* owner = component_->owner()) {
            for (QObject* sibling : owner->children()) {
                if (sibling != component_ && sibling->objectName() == name) {
                    toolkit::userInteraction().error(this, tr("A component named %1 already exists.").arg(name));
                    edit->setText(component_->name());
                    return;
                }
            }
        }
        component_->setName(name);
        emit renamed(component_);
    });
    setCellWidget(row, 1, edit);
}

void PropertyGrid::apply(design::TPropertyEditor* editor, const QString& text)
{
    try {
        editor->SetValue(text);
        emit edited(component_);
    } catch (const toolkit::Exception& e) {
        toolkit::userInteraction().error(this, e.message());
    }
}

void PropertyGrid::addEditorRow(std::unique_ptr<design::TPropertyEditor> owned)
{
    design::TPropertyEditor* editor = owned.get();
    editors_.push_back(std::move(owned));
    const int row = rowCount();
    insertRow(row);
    setItem(row, 0, new QTableWidgetItem(editor->GetName()));
    const design::TPropertyAttributes attributes = editor->GetAttributes();
    const QString objectName = QStringLiteral("edit_") + editor->GetName();
    const QString value = editor->GetValue();

    if (attributes.testFlag(design::paDialog)) {
        auto* cell = new QWidget;
        auto* layout = new QHBoxLayout(cell);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* text = new QLineEdit(value);
        text->setReadOnly(attributes.testFlag(design::paReadOnly));
        text->setObjectName(objectName);
        text->setCursorPosition(0);  // the start of a long value, not its end
        auto* ellipsis = new QToolButton;
        ellipsis->setText(QStringLiteral("..."));
        ellipsis->setObjectName(QStringLiteral("ellipsis_") + editor->GetName());
        connect(ellipsis, &QToolButton::clicked, this, [this, editor] {
            try {
                editor->Edit();
            } catch (const toolkit::Exception& e) {
                toolkit::userInteraction().error(this, e.message());
            }
        });
        layout->addWidget(text, 1);
        layout->addWidget(ellipsis);
        setCellWidget(row, 1, cell);
        return;
    }
    if (editor->property().metaType().id() == QMetaType::Bool) {
        auto* check = new QCheckBox;
        check->setObjectName(objectName);
        check->setChecked(value == QStringLiteral("True"));
        check->setEnabled(!attributes.testFlag(design::paReadOnly));
        connect(check, &QCheckBox::toggled, this, [this, editor](bool on) {
            apply(editor, on ? QStringLiteral("True") : QStringLiteral("False"));
        });
        setCellWidget(row, 1, check);
        return;
    }
    if (attributes.testFlag(design::paValueList) && !attributes.testFlag(design::paReadOnly)) {
        auto* combo = new QComboBox;
        combo->setObjectName(objectName);
        combo->addItems(editor->GetValues());
        // A value outside the list (a code without a name) is still shown as it is.
        if (combo->findText(value) < 0) combo->addItem(value);
        combo->setCurrentText(value);
        connect(combo, &QComboBox::textActivated, this, [this, editor](const QString& t) { apply(editor, t); });
        setCellWidget(row, 1, combo);
        return;
    }
    auto* line = new QLineEdit(value);
    line->setObjectName(objectName);
    line->setReadOnly(attributes.testFlag(design::paReadOnly));
    line->setCursorPosition(0);
    connect(line, &QLineEdit::editingFinished, this, [this, editor, line] {
        if (line->isReadOnly() || line->text() == editor->GetValue()) return;
        apply(editor, line->text());
        line->setText(editor->GetValue());
    });
    setCellWidget(row, 1, line);
}

EventGrid::EventGrid(QWidget* parent) : QTableWidget(parent)
{
    setObjectName(QStringLiteral("eventGrid"));
    setColumnCount(2);
    setHorizontalHeaderLabels({tr("Event"), tr("Handler")});
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

int EventGrid::rowOf(const QString& event) const
{
    for (int r = 0; r < rowCount(); ++r)
        if (item(r, 0) && item(r, 0)->text() == event) return r;
    return -1;
}

void EventGrid::showComponent(toolkit::TComponent* component)
{
    component_ = component;
    for (int r = 0; r < rowCount(); ++r) delete cellWidget(r, 1);
    setRowCount(0);
    if (component == nullptr) return;
    const QStringList used = formHandlers_ ? formHandlers_() : QStringList();
    for (const QString& event : design::PublishedEvents(component->metaObject())) {
        const int row = rowCount();
        insertRow(row);
        setItem(row, 0, new QTableWidgetItem(event));
        auto* combo = new QComboBox;
        combo->setObjectName(QStringLiteral("event_") + event);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        QStringList choices{QString(), component->name() + event.mid(2)};
        for (const QString& name : used)
            if (!choices.contains(name)) choices << name;
        combo->addItems(choices);
        combo->setCurrentText(design::EventHandlerName(component, event));
        connect(combo, &QComboBox::textActivated, this, [this, event](const QString& name) { apply(event, name); });
        connect(combo->lineEdit(), &QLineEdit::editingFinished, this,
                [this, event, combo] { apply(event, combo->currentText()); });
        setCellWidget(row, 1, combo);
    }
}

void EventGrid::apply(const QString& event, const QString& name)
{
    if (!component_ || design::EventHandlerName(component_, event) == name.trimmed()) return;
    try {
        design::SetEventHandlerName(component_, event, name);
        // The new name is one to pick in every row from now on.
        const QString added = name.trimmed();
        for (int r = 0; r < rowCount(); ++r)
            if (auto* combo = qobject_cast<QComboBox*>(cellWidget(r, 1)); combo && combo->findText(added) < 0)
                combo->addItem(added);
        emit edited(component_);
    } catch (const toolkit::Exception& e) {
        toolkit::userInteraction().error(this, e.message());
        if (auto* combo = findChild<QComboBox*>(QStringLiteral("event_") + event))
            combo->setCurrentText(design::EventHandlerName(component_, event));
    }
}

}  // namespace designer
