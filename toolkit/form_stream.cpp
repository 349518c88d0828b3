#include "toolkit/form_stream.h"

#include "toolkit/exceptions.h"

#include <QHash>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QStringList>

#include <memory>

namespace toolkit {

namespace {

QHash<QString, ComponentFactory>& registry()
{
    static QHash<QString, ComponentFactory> factories;
    return factories;
}

std::unique_ptr<TComponent> createComponent(const QString& className, QObject* owner)
{
    const auto it = registry().constFind(className);
    if (it == registry().constEnd())
        throw EArgumentException(QStringLiteral("Class %1 not found").arg(className));
    return std::unique_ptr<TComponent>((*it)(owner));
}

// QObject's own properties (objectName) are not the component's: the name is
// written on the object line instead.
QList<QMetaProperty> storedProperties(const QMetaObject* meta)
{
    QList<QMetaProperty> out;
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (p.isStored() && p.isWritable() && p.isReadable()) out << p;
    }
    return out;
}

QString quoted(const QString& text)
{
    QString out = text;
    out.replace(u'\'', QStringLiteral("''"));
    return u'\'' + out + u'\'';
}

}  // namespace

QString formatStoredValue(const QMetaProperty& p, const QVariant& value)
{
    if (p.isEnumType()) {
        const QMetaEnum e = p.enumerator();
        const int v = value.toInt();
        const QByteArray key = e.isFlag() ? e.valueToKeys(v) : QByteArray(e.valueToKey(v));
        return key.isEmpty() ? QString::number(v) : QString::fromLatin1(key);
    }
    switch (p.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toString();
    case QMetaType::QByteArray:
        return quoted(QString::fromUtf8(value.toByteArray()));
    default:
        return quoted(value.toString());
    }
}

namespace {

bool isValueOf(const QMetaEnum& e, int n)
{
    if (!e.isFlag()) return e.valueToKey(n) != nullptr;
    int known = 0;
    for (int i = 0; i < e.keyCount(); ++i) known |= e.value(i);
    return (n & ~known) == 0;
}

[[noreturn]] void badValue(const QString& name, const QString& text)
{
    throw EConvertError(QStringLiteral("Invalid property value %1 for %2").arg(text, name));
}

}  // namespace

QVariant parseStoredValue(const QMetaProperty& p, const QString& text)
{
    const QString name = QString::fromLatin1(p.name());
    if (text.startsWith(u'\'')) {
        if (text.size() < 2 || !text.endsWith(u'\'')) badValue(name, text);
        QString inner = text.mid(1, text.size() - 2);
        // A lone quote inside means the text was not written by us.
        if (inner.replace(QStringLiteral("''"), QStringLiteral("\x01")).contains(u'\'')) badValue(name, text);
        inner.replace(u'\x01', u'\'');
        if (p.metaType().id() == QMetaType::QByteArray) return inner.toUtf8();
        return inner;
    }
    if (p.isEnumType()) {
        const QMetaEnum e = p.enumerator();
        bool ok = false;
        const QByteArray key = text.toLatin1();
        const int v = e.isFlag() ? e.keysToValue(key.constData(), &ok) : e.keyToValue(key.constData(), &ok);
        if (ok) return QVariant(p.metaType(), &v);
        // A number only when the enumeration has it: any other would be an
        // enumeration value the type cannot hold.
        const int n = text.toInt(&ok);
        if (ok && isValueOf(e, n)) return QVariant(p.metaType(), &n);
        badValue(name, text);
    }
    if (p.metaType().id() == QMetaType::Bool) {
        if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
        if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) return false;
        badValue(name, text);
    }
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (!ok) badValue(name, text);
    QVariant v(n);
    if (!v.convert(p.metaType())) badValue(name, text);
    return v;
}

void registerComponentClass(const QString& className, ComponentFactory factory)
{
    registry().insert(className, std::move(factory));
}

QString componentClassName(const TComponent& component)
{
    const QString name = QString::fromLatin1(component.metaObject()->className());
    return name.mid(name.lastIndexOf(u':') + 1);
}

StoredValues storedDifferences(const TComponent& component)
{
    const auto fresh = createComponent(componentClassName(component), nullptr);
    StoredValues out;
    for (const QMetaProperty& p : storedProperties(component.metaObject())) {
        const QVariant mine = p.read(&component);
        if (mine != p.read(fresh.get())) out.append({QString::fromLatin1(p.name()), mine});
    }
    return out;
}

void applyStoredValues(TComponent& component, const StoredValues& values)
{
    const QMetaObject* meta = component.metaObject();
    component.beginLoading();
    struct EndLoading {
        TComponent& c;
        ~EndLoading() { c.endLoading(); }
    } guard{component};
    for (const auto& [name, value] : values) {
        const int index = meta->indexOfProperty(name.toLatin1().constData());
        if (index < QObject::staticMetaObject.propertyCount())
            throw EConvertError(QStringLiteral("Property %1 does not exist").arg(name));
        const QMetaProperty p = meta->property(index);
        QVariant v = value;
        if (!v.convert(p.metaType()) || !p.write(&component, v)) badValue(name, value.toString());
    }
}

QString writeForm(const QList<const TComponent*>& components)
{
    QString out;
    for (const TComponent* c : components) {
        out += QStringLiteral("object %1: %2\n").arg(c->name(), componentClassName(*c));
        const QMetaObject* meta = c->metaObject();
        for (const auto& [name, value] : storedDifferences(*c)) {
            const QMetaProperty p = meta->property(meta->indexOfProperty(name.toLatin1().constData()));
            out += QStringLiteral("  %1 = %2\n").arg(name, formatStoredValue(p, value));
        }
        out += QStringLiteral("end\n");
    }
    return out;
}

QList<TComponent*> readForm(const QString& text, QObject* owner)
{
    std::vector<std::unique_ptr<TComponent>> made;
    std::unique_ptr<TComponent> current;
    StoredValues values;
    int lineNo = 0;
    auto fail = [&lineNo](const QString& why) {
        throw EConvertError(QStringLiteral("Form line %1: %2").arg(lineNo).arg(why));
    };
    for (const QString& raw : text.split(u'\n')) {
        ++lineNo;
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        if (!current) {
            if (!line.startsWith(QStringLiteral("object "))) fail(QStringLiteral("object expected"));
            const QStringList parts = line.mid(7).split(u':');
            if (parts.size() != 2) fail(QStringLiteral("name: class expected"));
            current = createComponent(parts[1].trimmed(), nullptr);
            current->setName(parts[0].trimmed());
            values.clear();
            continue;
        }
        if (line == QStringLiteral("end")) {
            applyStoredValues(*current, values);
            made.push_back(std::move(current));
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) fail(QStringLiteral("name = value expected"));
        const QString name = line.left(eq).trimmed();
        const QMetaObject* meta = current->metaObject();
        const int index = meta->indexOfProperty(name.toLatin1().constData());
        if (index < QObject::staticMetaObject.propertyCount())
            fail(QStringLiteral("property %1 does not exist").arg(name));
        values.append({name, parseStoredValue(meta->property(index), line.mid(eq + 1).trimmed())});
    }
    if (current) fail(QStringLiteral("end expected"));
    QList<TComponent*> out;
    for (auto& c : made) {
        c->setParent(owner);
        out << c.release();
    }
    return out;
}

}  // namespace toolkit
