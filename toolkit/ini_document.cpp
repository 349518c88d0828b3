#include "ini_document.h"

#include "exceptions.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace toolkit {

namespace {

QByteArray trimmed(const QByteArray& s) { return s.trimmed(); }

// "[name]" -> name; otherwise nothing.
std::optional<QByteArray> sectionName(const QByteArray& line)
{
    const QByteArray t = trimmed(line);
    if (!t.startsWith('[')) return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0) return std::nullopt;
    return trimmed(t.mid(1, close - 1));
}

bool isComment(const QByteArray& t) { return t.startsWith(';') || t.startsWith('#'); }

bool sameName(const QByteArray& utf8, const QString& name)
{
    return QString::fromUtf8(utf8).compare(name, Qt::CaseInsensitive) == 0;
}

}  // namespace

IniDocument IniDocument::fromBytes(const QByteArray& bytes)
{
    IniDocument doc;
    qsizetype pos = 0;
    bool eolChosen = false;
    while (pos < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', pos);
        Line line;
        if (nl < 0) {
            line.text = bytes.mid(pos);
            pos = bytes.size();
        } else {
            const bool cr = nl > pos && bytes[nl - 1] == '\r';
            line.text = bytes.mid(pos, nl - pos - (cr ? 1 : 0));
            line.eol = cr ? QByteArray("\r\n") : QByteArray("\n");
            pos = nl + 1;
            if (!eolChosen) {
                doc.eol_ = line.eol;
                eolChosen = true;
            }
        }
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

IniDocument IniDocument::load(const QString& path)
{
    QFile file(path);
    if (!file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    return fromBytes(file.readAll());
}

std::optional<IniDocument::Section> IniDocument::findSection(const QString& section) const
{
    for (qsizetype i = 0; i < qsizetype(lines_.size()); ++i) {
        const auto name = sectionName(lines_[i].text);
        if (!name || !sameName(*name, section)) continue;
        qsizetype end = i + 1;
        while (end < qsizetype(lines_.size()) && !sectionName(lines_[end].text)) ++end;
        return Section{i, end};
    }
    return std::nullopt;
}

std::optional<qsizetype> IniDocument::findKey(const Section& s, const QString& key) const
{
    for (qsizetype i = s.header + 1; i < s.end; ++i) {
        const QByteArray& text = lines_[i].text;
        const qsizetype eq = text.indexOf('=');
        if (eq < 0 || isComment(trimmed(text))) continue;
        if (sameName(trimmed(text.left(eq)), key)) return i;
    }
    return std::nullopt;
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const
{
    const auto s = findSection(section);
    if (!s) return std::nullopt;
    const auto k = findKey(*s, key);
    if (!k) return std::nullopt;
    const QByteArray& text = lines_[*k].text;
    return QString::fromUtf8(trimmed(text.mid(text.indexOf('=') + 1)));
}

void IniDocument::insertLine(qsizetype at, QByteArray text)
{
    // The line before the insertion point may be the file's last one, without a line end.
    if (at > 0 && lines_[at - 1].eol.isEmpty()) lines_[at - 1].eol = eol_;
    lines_.insert(lines_.begin() + at, Line{std::move(text), eol_});
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value)
{
    const QByteArray v = value.toUtf8();
    auto s = findSection(section);
    if (!s) {
        // Sections we add are separated from what comes before by one blank line.
        if (!lines_.empty() && !trimmed(lines_.back().text).isEmpty())
            insertLine(qsizetype(lines_.size()), QByteArray());
        insertLine(qsizetype(lines_.size()), '[' + section.toUtf8() + ']');
        insertLine(qsizetype(lines_.size()), key.toUtf8() + '=' + v);
        return;
    }
    if (const auto k = findKey(*s, key)) {
        QByteArray& text = lines_[*k].text;
        // Keep the key as the file spells it; the line is rewritten as key=value.
        text = trimmed(text.left(text.indexOf('='))) + '=' + v;
        return;
    }
    // After the section's last non-blank line, so blank separators stay where they are.
    qsizetype at = s->end;
    while (at > s->header + 1 && trimmed(lines_[at - 1].text).isEmpty()) --at;
    insertLine(at, key.toUtf8() + '=' + v);
}

QByteArray IniDocument::toBytes() const
{
    QByteArray out;
    for (const Line& line : lines_) out += line.text + line.eol;
    return out;
}

void IniDocument::save(const QString& path) const
{
    QSaveFile file(path);
    // Unbuffered, so a failing write reports the system's reason rather than "Unknown error".
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray bytes = toBytes();
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        // Qt loses the reason of a short write; errno still has it.
        const QString reason = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason));
    }
}

}  // namespace toolkit
