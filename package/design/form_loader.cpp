#include "package/design/form_loader.h"

#include "package/design/design_registry.h"
#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <memory>
#include <vector>

namespace design {

namespace {

struct Problem {
    int line;
    QString why;
};

struct Entry {
    int line;
    QString name;
    QString value;
};

struct ObjectText {
    int line;
    QString name;
    QString className;
    QList<Entry> entries;
    int endLine;
};

struct Parsed {
    QList<ObjectText> objects;
    QList<Problem> problems;
};

// An object's lines checked against its class: values typed for their
// properties, handler names by event.
struct Checked {
    const QMetaObject* meta = nullptr;
    QList<QPair<Entry, QVariant>> values;
    QList<Entry> handlers;
};

[[noreturn]] void fail(int line, const QString& why)
{
    throw toolkit::EConvertError(QStringLiteral("Form line %1: %2").arg(line).arg(why));
}

bool isIdentifier(const QString& text)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return identifier.match(text).hasMatch();
}

Parsed parse(const QString& text)
{
    Parsed out;
    const QStringList lines = text.split(u'\n');
    std::unique_ptr<ObjectText> current;
    bool skipping = false;  // inside an object whose header is unusable
    auto finish = [&](int endLine) {
        if (current) {
            current->endLine = endLine;
            out.objects << *current;
        }
        current.reset();
        skipping = false;
    };
    auto start = [&](int number, const QString& line) {
        const QStringList parts = line.mid(7).split(u':');
        if (parts.size() != 2 || parts[0].trimmed().isEmpty() || parts[1].trimmed().isEmpty()) {
            out.problems << Problem{number, QStringLiteral("name: class expected; the object is left out")};
            skipping = true;
            return;
        }
        current = std::make_unique<ObjectText>(ObjectText{number, parts[0].trimmed(), parts[1].trimmed(), {}, number});
    };
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty()) continue;
        const bool header = line.startsWith(QStringLiteral("object "));
        if (!current && !skipping) {
            if (header) {
                start(number, line);
            } else {
                out.problems << Problem{number, QStringLiteral("object expected")};
            }
            continue;
        }
        if (line == QStringLiteral("end")) {
            finish(number);
        } else if (header) {
            out.problems << Problem{number, QStringLiteral("end expected before the next object")};
            finish(number);
            start(number, line);
        } else if (!skipping) {
            const qsizetype eq = line.indexOf(u'=');
            if (eq <= 0) {
                out.problems << Problem{number, QStringLiteral("name = value expected")};
            } else {
                current->entries << Entry{number, line.left(eq).trimmed(), line.mid(eq + 1).trimmed()};
            }
        }
    }
    if (current || skipping) {
        out.problems << Problem{int(lines.size()), QStringLiteral("end expected")};
        finish(int(lines.size()));
    }
    return out;
}

// Checks one line of an object of `meta`; returns why it cannot be used, or
// an empty text after filling `into`.
QString check(const QMetaObject* meta, const Entry& e, Checked& into)
{
    const int index = meta->indexOfProperty(e.name.toLatin1().constData());
    if (index >= QObject::staticMetaObject.propertyCount()) {
        const QMetaProperty p = meta->property(index);
        if (!p.isWritable()) return QStringLiteral("property %1 is read-only").arg(e.name);
        try {
            into.values.append({e, toolkit::parseStoredValue(p, e.value)});
        } catch (const toolkit::Exception& x) {
            return x.message();
        }
        return {};
    }
    if (PublishedEvents(meta).contains(e.name)) {
        if (!isIdentifier(e.value)) return QStringLiteral("'%1' is not a handler name for %2").arg(e.value, e.name);
        into.handlers << e;
        return {};
    }
    return QStringLiteral("property %1 does not exist").arg(e.name);
}

// Writes the checked values inside the component's loading bracket; a value
// the component refuses is reported through `refused` (or raised when null).
void apply(toolkit::TComponent& component, const Checked& checked, const std::function<void(int, QString)>& refused)
{
    component.beginLoading();
    try {
        for (const auto& [entry, value] : checked.values) {
            const QMetaProperty p = checked.meta->property(checked.meta->indexOfProperty(entry.name.toLatin1().constData()));
            try {
                if (!p.write(&component, value))
                    throw toolkit::EConvertError(QStringLiteral("Invalid property value %1 for %2").arg(entry.value, entry.name));
            } catch (const toolkit::Exception& x) {
                if (!refused) throw;
                refused(entry.line, x.message());
            }
        }
    } catch (...) {
        component.endLoading();
        throw;
    }
    component.endLoading();
}

}  // namespace

QString WriteForm(const QList<const toolkit::TComponent*>& components)
{
    QString out;
    for (const toolkit::TComponent* c : components) {
        QString text = toolkit::writeForm({c});
        text.chop(int(qstrlen("end\n")));
        for (const auto& [event, handler] : EventHandlerNames(c)) text += QStringLiteral("  %1 = %2\n").arg(event, handler);
        out += text + QStringLiteral("end\n");
    }
    return out;
}

LoadedForm LoadForm(const QString& text, QObject* owner)
{
    LoadedForm out;
    const Parsed parsed = parse(text);
    QList<Problem> problems = parsed.problems;
    QSet<QString> names;
    for (const ObjectText& object : parsed.objects) {
        Checked checked;
        checked.meta = FindClass(object.className);
        if (checked.meta == nullptr) {
            problems << Problem{object.line, QStringLiteral("Class %1 not found; the object is left out").arg(object.className)};
            continue;
        }
        if (names.contains(object.name)) {
            problems << Problem{object.line,
                                QStringLiteral("a component named %1 is already on the form; the object is left out").arg(object.name)};
            continue;
        }
        for (const Entry& e : object.entries) {
            const QString why = check(checked.meta, e, checked);
            if (!why.isEmpty()) problems << Problem{e.line, why};
        }
        std::unique_ptr<toolkit::TComponent> component;
        try {
            component.reset(CreateComponent(checked.meta, nullptr, false));
        } catch (const toolkit::Exception& x) {
            problems << Problem{object.line, x.message() + QStringLiteral("; the object is left out")};
            continue;
        }
        component->setName(object.name);
        try {
            apply(*component, checked, [&problems](int line, const QString& why) { problems << Problem{line, why}; });
        } catch (const toolkit::Exception& x) {
            problems << Problem{object.endLine, x.message()};
        }
        for (const Entry& e : checked.handlers) SetEventHandlerName(component.get(), e.name, e.value);
        names.insert(object.name);
        component->setParent(owner);
        out.components << component.release();
    }
    std::stable_sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) { return a.line < b.line; });
    for (const Problem& p : problems) out.problems << QStringLiteral("Line %1: %2").arg(p.line).arg(p.why);
    return out;
}

QList<toolkit::TComponent*> ReadForm(const QString& text, QObject* form, const TFormHandlers& handlers)
{
    const Parsed parsed = parse(text);
    if (!parsed.problems.isEmpty()) fail(parsed.problems.first().line, parsed.problems.first().why);
    const QString formClass = form ? ClassName(form->metaObject()) : QString();

    // Everything the text alone can tell, before any component exists.
    std::vector<Checked> objects;
    QSet<QString> names;
    for (const ObjectText& object : parsed.objects) {
        Checked checked;
        checked.meta = FindClass(object.className);
        if (checked.meta == nullptr) fail(object.line, QStringLiteral("Class %1 not found").arg(object.className));
        if (names.contains(object.name))
            fail(object.line, QStringLiteral("a component named %1 is already on the form").arg(object.name));
        names.insert(object.name);
        for (const Entry& e : object.entries) {
            const QString why = check(checked.meta, e, checked);
            if (!why.isEmpty()) fail(e.line, why);
        }
        for (const Entry& e : checked.handlers)
            if (!handlers.contains(e.value))
                fail(e.line, QStringLiteral("handler %1 for %2.%3 is not provided by %4")
                                 .arg(e.value, object.name, e.name, formClass.isEmpty() ? QStringLiteral("the program") : formClass));
        objects.push_back(std::move(checked));
    }

    // The form's own components, then what only they can tell: whether each
    // handler takes its event's parameters.
    std::vector<std::unique_ptr<toolkit::TComponent>> made;
    for (size_t i = 0; i < objects.size(); ++i) {
        made.emplace_back(CreateComponent(objects[i].meta, nullptr, false));
        made.back()->setName(parsed.objects[int(i)].name);
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        auto* publisher = qobject_cast<TEventPublisher*>(made[i].get());
        for (const Entry& e : objects[i].handlers) {
            if (publisher == nullptr || publisher->EventHandlerType(e.name) != handlers.type(e.value))
                fail(e.line, QStringLiteral("handler %1 does not take the parameters of %2.%3")
                                 .arg(e.value, parsed.objects[int(i)].name, e.name));
            if (!handlers.bind(e.value, form).has_value())
                fail(e.line, QStringLiteral("handler %1 is not a method of %2").arg(e.value, formClass));
        }
    }

    for (size_t i = 0; i < objects.size(); ++i) {
        apply(*made[i], objects[i], nullptr);
        auto* publisher = qobject_cast<TEventPublisher*>(made[i].get());
        for (const Entry& e : objects[i].handlers) publisher->AssignEventHandler(e.name, handlers.bind(e.value, form));
    }
    QList<toolkit::TComponent*> out;
    for (auto& c : made) {
        c->setParent(form);
        out << c.release();
    }
    return out;
}

QList<toolkit::TComponent*> ReadForm(const QString& text, QObject* form)
{
    return ReadForm(text, form, FormHandlers(form ? ClassName(form->metaObject()) : QString()));
}

}  // namespace design
