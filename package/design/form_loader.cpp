#include "package/design/form_loader.h"

#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"

#include <QRegularExpression>

#include <memory>

namespace design {

namespace {

struct Line {
    int number;
    QString text;
};

// The toolkit's reader says "Form line N: why" for its own line N; the
// designer names the line of the file instead.
QString reason(const toolkit::Exception& e)
{
    static const QRegularExpression prefix(QStringLiteral("^Form line \\d+: "));
    QString text = e.message();
    text.remove(prefix);
    return text;
}

// Reads one object of the form with the given property lines; the toolkit's
// reader checks the class, the names and the values.
QList<toolkit::TComponent*> readObject(const Line& header, const QList<Line>& properties, QObject* owner)
{
    QString text = header.text + u'\n';
    for (const Line& l : properties) text += l.text + u'\n';
    return toolkit::readForm(text + QStringLiteral("end\n"), owner);
}

}  // namespace

LoadedForm LoadForm(const QString& text, QObject* owner)
{
    LoadedForm out;
    auto problem = [&out](int line, const QString& why) {
        out.problems << QStringLiteral("Line %1: %2").arg(line).arg(why);
    };
    const QStringList lines = text.split(u'\n');
    std::unique_ptr<Line> header;
    QList<Line> properties;
    auto finish = [&](int endLine) {
        if (!header) return;
        QList<Line> good;
        bool classOk = true;
        try {
            qDeleteAll(readObject(*header, {}, nullptr));
        } catch (const toolkit::Exception& e) {
            problem(header->number, reason(e) + QStringLiteral("; the object is left out"));
            classOk = false;
        }
        if (classOk) {
            for (const Line& l : properties) {
                try {
                    qDeleteAll(readObject(*header, {l}, nullptr));
                    good << l;
                } catch (const toolkit::Exception& e) {
                    problem(l.number, reason(e));
                }
            }
            try {
                out.components << readObject(*header, good, owner);
            } catch (const toolkit::Exception& e) {
                // Lines that pass one by one may still fail together (a
                // component refusing a combination): keep the object bare.
                problem(endLine, reason(e) + QStringLiteral("; the object's values are left out"));
                out.components << readObject(*header, {}, owner);
            }
        }
        header.reset();
        properties.clear();
    };
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty()) continue;
        if (!header) {
            if (line.startsWith(QStringLiteral("object "))) {
                header = std::make_unique<Line>(Line{number, line});
            } else {
                problem(number, QStringLiteral("object expected"));
            }
            continue;
        }
        if (line == QStringLiteral("end")) {
            finish(number);
        } else if (line.startsWith(QStringLiteral("object "))) {
            problem(number, QStringLiteral("end expected before the next object"));
            finish(number);
            header = std::make_unique<Line>(Line{number, line});
        } else {
            properties << Line{number, line};
        }
    }
    if (header) {
        problem(int(lines.size()), QStringLiteral("end expected"));
        finish(int(lines.size()));
    }
    return out;
}

}  // namespace design
