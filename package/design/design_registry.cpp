#include "package/design/design_registry.h"

#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"

#include <QMetaProperty>

#include <vector>

namespace design {

namespace {

struct EditorRow {
    QByteArray type;
    const QMetaObject* componentClass;
    QString propertyName;
    EditorFactory factory;
};

struct Registry {
    QStringList pages;
    QList<QPair<QString, const QMetaObject*>> classes;  // (page, class), registration order
    std::vector<EditorRow> editors;
};

Registry& registry()
{
    static Registry r;
    return r;
}

bool inherits(const QMetaObject* meta, const QMetaObject* base)
{
    for (; meta != nullptr; meta = meta->superClass())
        if (meta == base || qstrcmp(meta->className(), base->className()) == 0) return true;
    return false;
}

}  // namespace

QString ClassName(const QMetaObject* meta)
{
    const QString name = QString::fromLatin1(meta->className());
    return name.mid(name.lastIndexOf(u':') + 1);
}

void RegisterComponents(const QString& page, const QList<const QMetaObject*>& classes)
{
    Registry& r = registry();
    if (!r.pages.contains(page)) r.pages << page;
    for (const QMetaObject* meta : classes) {
        if (!inherits(meta, &toolkit::TComponent::staticMetaObject))
            throw toolkit::EArgumentException(QStringLiteral("%1 is not a component").arg(ClassName(meta)));
        for (qsizetype i = 0; i < r.classes.size(); ++i)
            if (r.classes[i].second == meta) r.classes.removeAt(i--);
        r.classes.append({page, meta});
        toolkit::registerComponentClass(ClassName(meta), [meta](QObject* owner) {
            return CreateComponent(meta, owner, false);
        });
    }
}

void RegisterPropertyEditor(const QByteArray& propertyType, const QMetaObject* componentClass,
                            const QString& propertyName, EditorFactory factory)
{
    registry().editors.push_back({propertyType, componentClass, propertyName, std::move(factory)});
}

QStringList PalettePages() { return registry().pages; }

QList<const QMetaObject*> PaletteClasses(const QString& page)
{
    QList<const QMetaObject*> out;
    for (const auto& [p, meta] : registry().classes)
        if (p == page) out << meta;
    return out;
}

const QMetaObject* FindClass(const QString& className)
{
    for (const auto& [p, meta] : registry().classes)
        if (ClassName(meta) == className) return meta;
    return nullptr;
}

toolkit::TComponent* CreateComponent(const QMetaObject* meta, QObject* owner, bool designing)
{
    QObject* made = meta->newInstance(Q_ARG(QObject*, nullptr));
    auto* component = qobject_cast<toolkit::TComponent*>(made);
    if (component == nullptr) {
        delete made;
        throw toolkit::EArgumentException(QStringLiteral("Cannot create %1").arg(ClassName(meta)));
    }
    // Design state first: what the constructor left is what the designer shows.
    component->setDesigning(designing);
    component->setParent(owner);
    return component;
}

QList<QMetaProperty> PublishedProperties(const QObject* component)
{
    QList<QMetaProperty> out;
    const QMetaObject* meta = component->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) out << meta->property(i);
    return out;
}

std::unique_ptr<TPropertyEditor> EditorFor(const QList<QObject*>& components, const QMetaProperty& property)
{
    const QMetaObject* meta = components.isEmpty() ? nullptr : components.first()->metaObject();
    const QString name = QString::fromLatin1(property.name());
    const EditorRow* best = nullptr;
    int bestScore = -1;
    for (const EditorRow& row : registry().editors) {
        if (row.type != property.typeName()) continue;
        if (row.componentClass != nullptr && (meta == nullptr || !inherits(meta, row.componentClass))) continue;
        if (!row.propertyName.isEmpty() && row.propertyName != name) continue;
        const int score = (row.componentClass ? 2 : 0) + (row.propertyName.isEmpty() ? 0 : 1);
        if (score >= bestScore) {
            best = &row;
            bestScore = score;
        }
    }
    if (best != nullptr) return best->factory(components, property);
    if (property.isEnumType()) return std::make_unique<TEnumProperty>(components, property);
    switch (property.metaType().id()) {
    case QMetaType::Bool:
        return std::make_unique<TBoolProperty>(components, property);
    case QMetaType::Int:
        return std::make_unique<TIntegerProperty>(components, property);
    default:
        return std::make_unique<TStringProperty>(components, property);
    }
}

void ClearRegistry()
{
    Registry& r = registry();
    r.pages.clear();
    r.classes.clear();
    r.editors.clear();
}

}  // namespace design
