#include "ini_document.h"

#include "exceptions.h"
#include "regular_file.h"

#include <QByteArrayView>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace toolkit {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";
const QString kKind = QStringLiteral("settings file");

bool isAscii(QByteArrayView v)
{
    return std::all_of(v.begin(), v.end(), [](char c) { return uchar(c) < 0x80; });
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

// Names compare without regard to case. Recorder names are ASCII and fold
// byte by byte; anything else folds as Unicode text.
QByteArray fold(QByteArrayView name)
{
    if (!isAscii(name)) return QString::fromUtf8(name).toCaseFolded().toUtf8();
    QByteArray out(name.size(), Qt::Uninitialized);
    std::transform(name.begin(), name.end(), out.begin(), lower);
    return out;
}

quint64 hashStart(quint64 seed) { return 0xcbf29ce484222325ull ^ (seed * 0x9E3779B97F4A7C15ull); }
constexpr quint64 kHashPrime = 0x100000001b3ull;

quint64 hashFolded(QByteArrayView folded, quint64 seed)
{
    quint64 h = hashStart(seed);
    for (char c : folded) h = (h ^ uchar(c)) * kHashPrime;
    return h;
}

// hashFolded(fold(name)) without making the folded copy for ASCII names.
quint64 nameHash(QByteArrayView name, quint64 seed)
{
    if (!isAscii(name)) return hashFolded(fold(name), seed);
    quint64 h = hashStart(seed);
    for (char c : name) h = (h ^ uchar(lower(c))) * kHashPrime;
    return h;
}

bool sameName(QByteArrayView name, const QByteArray& folded)
{
    if (!isAscii(name)) return fold(name) == folded;
    if (name.size() != folded.size()) return false;
    return std::equal(name.begin(), name.end(), folded.begin(), [](char a, char b) { return lower(a) == b; });
}

// "[name]" -> name (the text between "[" and the first "]", trimmed).
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView t = line.trimmed();
    if (!t.startsWith('[')) return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0) return std::nullopt;
    return t.sliced(1, close - 1).trimmed();
}

bool isComment(QByteArrayView trimmedLine) { return trimmedLine.startsWith(';') || trimmedLine.startsWith('#'); }

QByteArrayView keyOf(QByteArrayView line) { return line.first(line.indexOf('=')).trimmed(); }
QByteArray valueOf(QByteArrayView line) { return line.sliced(line.indexOf('=') + 1).trimmed().toByteArray(); }

// A line break inside a value would end its line and start another one, which
// could be read back as a key or a section of its own.
QByteArray withoutLineBreaks(QByteArray value)
{
    return value.replace('\r', ' ').replace('\n', ' ');
}

template <class T>
auto hashRange(const std::vector<T>& items, quint64 hash)
{
    struct ByHash {
        bool operator()(const T& a, quint64 h) const { return a.hash < h; }
        bool operator()(quint64 h, const T& a) const { return h < a.hash; }
    };
    return std::equal_range(items.begin(), items.end(), hash, ByHash{});
}

}  // namespace

IniDocument IniDocument::fromBytes(QByteArray bytes)
{
    if (bytes.size() > kLargestFile)
        throw EFileError(QStringLiteral("The settings text is larger than %1, the largest settings file this tool opens.")
                             .arg(byteSizeText(kLargestFile)));
    IniDocument doc;
    doc.bytes_ = std::move(bytes);
    const char* data = doc.bytes_.constData();
    const qsizetype size = doc.bytes_.size();
    if (doc.bytes_.startsWith(kByteOrderMark)) doc.body_ = 3;

    bool eolChosen = false;
    for (qsizetype pos = doc.body_; pos < size;) {
        const auto* nl = static_cast<const char*>(std::memchr(data + pos, '\n', size_t(size - pos)));
        const qsizetype next = nl ? nl - data + 1 : size;
        qsizetype contentEnd = nl ? nl - data : size;
        if (nl && contentEnd > pos && data[contentEnd - 1] == '\r') --contentEnd;
        if (nl && !eolChosen) {
            doc.eol_ = contentEnd < nl - data ? QByteArray("\r\n") : QByteArray("\n");
            eolChosen = true;
        }
        const QByteArrayView line(data + pos, contentEnd - pos);
        if (const auto name = sectionName(line)) {
            if (!doc.sections_.empty()) doc.sections_.back().end = quint32(pos);
            doc.sections_.push_back({nameHash(*name, 0), quint32(pos), quint32(size)});
        } else if (!doc.sections_.empty() && line.contains('=') && !isComment(line.trimmed())) {
            // Keys before the first section belong to none and are never looked up.
            doc.entries_.push_back({nameHash(keyOf(line), doc.sections_.back().header), quint32(pos), quint32(contentEnd)});
        }
        pos = next;
    }
    // Ties keep file order, so the first of equal names is found first.
    std::sort(doc.sections_.begin(), doc.sections_.end(),
              [](const Section& a, const Section& b) { return a.hash != b.hash ? a.hash < b.hash : a.header < b.header; });
    std::sort(doc.entries_.begin(), doc.entries_.end(),
              [](const Entry& a, const Entry& b) { return a.hash != b.hash ? a.hash < b.hash : a.line < b.line; });
    return doc;
}

IniDocument IniDocument::load(const QString& path)
{
    RegularFileReader file(path);
    switch (file.status()) {
    case RegularFileReader::Status::Missing: return {};
    case RegularFileReader::Status::NotRegular: throw EFileError(notRegularFileText(path));
    case RegularFileReader::Status::Failed:
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorText()));
    case RegularFileReader::Status::Open: break;
    }
    if (file.size() > kLargestFile) throw EFileError(fileTooLargeText(path, kLargestFile, kKind));
    QByteArray bytes;
    bytes.reserve(file.size() + 1);
    // One byte more than stated tells a file that grew (or states no size, as under /proc).
    const bool ok = file.read(file.size() + 1, bytes) &&
                    (bytes.size() <= file.size() || file.read(kLargestFile + 1 - bytes.size(), bytes));
    if (!ok) throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorText()));
    if (bytes.size() > kLargestFile) throw EFileError(fileTooLargeText(path, kLargestFile, kKind));
    return fromBytes(std::move(bytes));
}

const IniDocument::Section* IniDocument::findSection(const QByteArray& foldedName) const
{
    const auto [first, last] = hashRange(sections_, hashFolded(foldedName, 0));
    for (auto it = first; it != last; ++it) {
        const QByteArrayView rest = QByteArrayView(bytes_).sliced(it->header, it->end - it->header);
        const qsizetype nl = rest.indexOf('\n');
        if (sameName(*sectionName(nl < 0 ? rest : rest.first(nl)), foldedName)) return &*it;
    }
    return nullptr;
}

const IniDocument::Entry* IniDocument::findEntry(const Section& s, const QByteArray& foldedKey) const
{
    const auto [first, last] = hashRange(entries_, hashFolded(foldedKey, s.header));
    for (auto it = first; it != last; ++it) {
        if (it->line <= s.header || it->line >= s.end) continue;  // another section's, same hash
        if (sameName(keyOf(QByteArrayView(bytes_).sliced(it->line, it->contentEnd - it->line)), foldedKey)) return &*it;
    }
    return nullptr;
}

std::optional<QByteArray> IniDocument::currentLine(const QString& section, const QString& key) const
{
    const QByteArray fs = fold(section.toUtf8());
    const QByteArray fk = fold(key.toUtf8());
    const std::vector<AddedLine>* added = nullptr;
    if (const Section* s = findSection(fs)) {
        if (const Entry* e = findEntry(*s, fk)) {
            const auto r = replaced_.find(e->line);
            if (r != replaced_.end()) return r->second.text;
            return bytes_.mid(e->line, e->contentEnd - e->line);
        }
        const auto a = appended_.find(s->header);
        if (a != appended_.end()) added = &a->second.lines;
    } else {
        for (const AddedSection& as : addedSections_)
            if (as.foldedName == fs) added = &as.lines;
    }
    if (added)
        for (const AddedLine& l : *added)
            if (l.foldedKey == fk) return l.key + '=' + l.value;
    return std::nullopt;
}

std::optional<QByteArray> IniDocument::rawValue(const QString& section, const QString& key) const
{
    const auto line = currentLine(section, key);
    if (!line) return std::nullopt;
    return valueOf(*line);
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const
{
    const auto raw = rawValue(section, key);
    if (!raw) return std::nullopt;
    return QString::fromUtf8(*raw);
}

template <class Unchanged>
void IniDocument::assign(const QString& section, const QString& key, QByteArray value, Unchanged unchanged)
{
    const QByteArray fs = fold(section.toUtf8());
    const QByteArray fk = fold(key.toUtf8());
    std::vector<AddedLine>* lines = nullptr;
    if (const Section* s = findSection(fs)) {
        if (const Entry* e = findEntry(*s, fk)) {
            const QByteArrayView line = QByteArrayView(bytes_).sliced(e->line, e->contentEnd - e->line);
            if (unchanged(valueOf(line))) {
                replaced_.erase(e->line);
            } else {
                // Keep the key as the file spells it; the line is rewritten as key=value.
                replaced_[e->line] = Replacement{e->contentEnd, keyOf(line).toByteArray() + '=' + value};
            }
            return;
        }
        Appended& a = appended_[s->header];
        a.section = *s;
        lines = &a.lines;
    } else {
        auto it = std::find_if(addedSections_.begin(), addedSections_.end(),
                               [&](const AddedSection& as) { return as.foldedName == fs; });
        if (it == addedSections_.end()) it = addedSections_.insert(it, AddedSection{fs, section.toUtf8(), {}});
        lines = &it->lines;
    }
    for (AddedLine& l : *lines) {
        if (l.foldedKey == fk) {
            l.key = l.key.trimmed();  // rewritten as key=value, like a line from the file
            l.value = std::move(value);
            return;
        }
    }
    lines->push_back(AddedLine{fk, key.toUtf8(), std::move(value)});
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value)
{
    assign(section, key, withoutLineBreaks(value.toUtf8()),
           [&](const QByteArray& inFile) { return QString::fromUtf8(inFile) == value; });
}

void IniDocument::setRawValue(const QString& section, const QString& key, QByteArray value)
{
    assign(section, key, withoutLineBreaks(value), [&](const QByteArray& inFile) { return inFile == value; });
}

quint32 IniDocument::insertionPoint(const Section& s) const
{
    // After the section's last non-blank line, so blank separators stay where they are.
    const QByteArrayView all(bytes_);
    const qsizetype headerNl = all.sliced(0, s.end).indexOf('\n', s.header);
    const qsizetype headerEnd = headerNl < 0 ? s.end : headerNl + 1;
    qsizetype at = s.end;
    while (at > headerEnd) {
        const qsizetype lineEnd = all[at - 1] == '\n' ? at - 1 : at;  // only the file's last line lacks a "\n"
        const qsizetype start = all.sliced(0, lineEnd).lastIndexOf('\n') + 1;
        if (!all.sliced(start, lineEnd - start).trimmed().isEmpty()) break;
        at = start;
    }
    return quint32(at);
}

QByteArray IniDocument::toBytes() const
{
    // Edits in file order: a replaced line, or lines added at a section's end.
    struct Splice {
        quint32 at;
        quint32 resume;
        const QByteArray* text;
        const std::vector<AddedLine>* lines;
    };
    std::vector<Splice> splices;
    for (const auto& [line, r] : replaced_) splices.push_back({line, r.contentEnd, &r.text, nullptr});
    for (const auto& [header, a] : appended_) {
        const quint32 at = insertionPoint(a.section);
        splices.push_back({at, at, nullptr, &a.lines});
    }
    std::sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) {
        return a.at != b.at ? a.at < b.at : a.lines != nullptr && b.lines == nullptr;
    });

    QByteArray out;
    out.reserve(bytes_.size() + 64 * qsizetype(replaced_.size() + appended_.size() + addedSections_.size()));
    auto addLines = [&](const std::vector<AddedLine>& lines) {
        for (const AddedLine& l : lines) out.append(l.key).append('=').append(l.value).append(eol_);
    };
    quint32 cursor = 0;
    for (const Splice& s : splices) {
        out.append(bytes_.constData() + cursor, s.at - cursor);
        if (s.lines) {
            // The file's last line may have no line end of its own.
            if (s.at == bytes_.size() && s.at > body_ && !bytes_.endsWith('\n')) out.append(eol_);
            addLines(*s.lines);
        } else {
            out.append(*s.text);
        }
        cursor = s.resume;
    }
    out.append(bytes_.constData() + cursor, bytes_.size() - cursor);

    for (const AddedSection& as : addedSections_) {
        if (out.size() > body_) {
            if (!out.endsWith('\n')) out.append(eol_);
            // Sections we add are separated from what comes before by one blank line.
            const qsizetype lastStart = std::max(body_, QByteArrayView(out).first(out.size() - 1).lastIndexOf('\n') + 1);
            if (!QByteArrayView(out).sliced(lastStart, out.size() - 1 - lastStart).trimmed().isEmpty()) out.append(eol_);
        }
        out.append('[').append(as.name).append(']').append(eol_);
        addLines(as.lines);
    }
    return out;
}

void IniDocument::save(const QString& path) const
{
    if (!isRegularOrMissing(path)) throw EFileError(notRegularFileText(path));
    const QByteArray bytes = toBytes();
    if (bytes.size() > kLargestFile)
        throw EFileError(QStringLiteral("\"%1\" would be larger than %2, the largest settings file this tool opens.")
                             .arg(path, byteSizeText(kLargestFile)));
    QSaveFile file(path);
    // Unbuffered, so a failing write reports the system's reason rather than "Unknown error".
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        // Qt loses the reason of a short write; errno still has it.
        const QString reason = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason));
    }
}

}  // namespace toolkit
