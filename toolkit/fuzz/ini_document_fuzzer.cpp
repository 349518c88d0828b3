// The INI document against a plain line-by-line model of the same rules: every
// lookup and every written byte must agree, whatever the file holds.
//
// Input: the file's bytes, then optionally a zero byte and edits, one per line:
// 's' (text) or 'r' (raw bytes), section, 0x01, key, 0x01, value.
#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

namespace {

// The rules, written the slow and obvious way: a vector of lines, scanned on every call.
class Model {
public:
    explicit Model(QByteArray bytes)
    {
        if (bytes.startsWith("\xEF\xBB\xBF")) {
            bom_ = true;
            bytes.remove(0, 3);
        }
        qsizetype pos = 0;
        bool chosen = false;
        while (pos < bytes.size()) {
            const qsizetype nl = bytes.indexOf('\n', pos);
            Line l;
            if (nl < 0) {
                l.text = bytes.mid(pos);
                pos = bytes.size();
            } else {
                const bool cr = nl > pos && bytes[nl - 1] == '\r';
                l.text = bytes.mid(pos, nl - pos - (cr ? 1 : 0));
                l.eol = cr ? "\r\n" : "\n";
                pos = nl + 1;
                if (!chosen) eol_ = l.eol, chosen = true;
            }
            l.original = l.text;
            l.fromFile = true;
            lines_.push_back(l);
        }
    }

    std::optional<QByteArray> raw(const QString& section, const QString& key) const
    {
        const auto k = find(section, key);
        if (!k.second) return std::nullopt;
        return valueOf(lines_[*k.second].text);
    }

    // Line breaks in v become blanks; the file's line stays when its value equals v as given.
    void set(const QString& section, const QString& key, const QByteArray& given, bool rawCompare)
    {
        QByteArray v = given;
        v.replace('\r', ' ').replace('\n', ' ');
        const auto [s, k] = find(section, key);
        if (k) {
            Line& l = lines_[*k];
            const QByteArray inFile = valueOf(l.original);
            const bool same = l.fromFile && (rawCompare ? inFile == given : QString::fromUtf8(inFile) == QString::fromUtf8(given));
            l.text = same ? l.original : keyOf(l.fromFile ? l.original : l.text) + '=' + v;
            return;
        }
        if (!s) {
            if (!lines_.empty() && !lines_.back().text.trimmed().isEmpty()) insert(lines_.size(), {});
            insert(lines_.size(), '[' + section.toUtf8() + ']');
            insert(lines_.size(), key.toUtf8() + '=' + v);
            return;
        }
        std::size_t at = sectionEnd(*s);
        while (at > *s + 1 && lines_[at - 1].text.trimmed().isEmpty()) --at;
        insert(at, key.toUtf8() + '=' + v);
    }

    QByteArray bytes() const
    {
        QByteArray out = bom_ ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        for (const Line& l : lines_) out += l.text + l.eol;
        return out;
    }

private:
    struct Line {
        QByteArray text, eol, original;
        bool fromFile = false;
    };
    static std::optional<QByteArray> sectionName(const QByteArray& line)
    {
        const QByteArray t = line.trimmed();
        if (!t.startsWith('[') || t.indexOf(']') < 0) return std::nullopt;
        return t.mid(1, t.indexOf(']') - 1).trimmed();
    }
    static bool same(const QByteArray& a, const QString& b) { return QString::fromUtf8(a).compare(b, Qt::CaseInsensitive) == 0; }
    static QByteArray keyOf(const QByteArray& l) { return l.left(l.indexOf('=')).trimmed(); }
    static QByteArray valueOf(const QByteArray& l) { return l.mid(l.indexOf('=') + 1).trimmed(); }

    std::size_t sectionEnd(std::size_t s) const
    {
        std::size_t end = s + 1;
        while (end < lines_.size() && !sectionName(lines_[end].text)) ++end;
        return end;
    }
    std::pair<std::optional<std::size_t>, std::optional<std::size_t>> find(const QString& section, const QString& key) const
    {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const auto name = sectionName(lines_[i].text);
            if (!name || !same(*name, section)) continue;
            const std::size_t end = sectionEnd(i);
            for (std::size_t k = i + 1; k < end; ++k) {
                const QByteArray& t = lines_[k].text;
                if (t.indexOf('=') < 0 || t.trimmed().startsWith(';') || t.trimmed().startsWith('#')) continue;
                if (same(keyOf(t), key)) return {i, k};
            }
            return {i, std::nullopt};
        }
        return {};
    }
    void insert(std::size_t at, QByteArray text)
    {
        if (at > 0 && lines_[at - 1].eol.isEmpty()) lines_[at - 1].eol = eol_;
        Line l;
        l.text = std::move(text);
        l.eol = eol_;
        lines_.insert(lines_.begin() + qsizetype(at), l);
    }

    std::vector<Line> lines_;
    QByteArray eol_ = "\r\n";
    bool bom_ = false;
};

// Section and key names are the caller's identifiers, never text from a file:
// no blanks around them, no brackets, equals signs or comment marks.
bool plainName(const QByteArray& n)
{
    if (n.isEmpty() || n.trimmed() != n || n[0] == ';' || n[0] == '#') return false;
    for (char c : n)
        if (c == '[' || c == ']' || c == '=' || c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

struct Edit {
    bool raw;
    QString section, key;
    QByteArray value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype zero = input.indexOf('\0');
    const QByteArray file = zero < 0 ? input : input.left(zero);
    std::vector<Edit> edits;
    if (zero >= 0) {
        for (const QByteArray& line : input.mid(zero + 1).split('\n')) {
            const QList<QByteArray> f = line.mid(1).split('\x01');
            if (line.isEmpty() || f.size() != 3 || !plainName(f[0]) || !plainName(f[1])) continue;
            edits.push_back({line[0] == 'r', QString::fromUtf8(f[0]), QString::fromUtf8(f[1]), f[2]});
        }
    }

    toolkit::IniDocument doc = toolkit::IniDocument::fromBytes(file);
    Model model(file);
    FUZZ_CHECK(doc.toBytes() == file);  // nothing edited, nothing changed
    for (const Edit& e : edits) {
        FUZZ_CHECK(doc.rawValue(e.section, e.key) == model.raw(e.section, e.key));
        if (e.raw) {
            doc.setRawValue(e.section, e.key, e.value);
            model.set(e.section, e.key, e.value, true);
        } else {
            // Text goes in as UTF-8, so bytes that are not UTF-8 arrive as U+FFFD.
            const QString text = QString::fromUtf8(e.value);
            doc.setValue(e.section, e.key, text);
            model.set(e.section, e.key, text.toUtf8(), false);
        }
        FUZZ_CHECK(doc.rawValue(e.section, e.key) == model.raw(e.section, e.key));
    }
    const QByteArray out = doc.toBytes();
    FUZZ_CHECK(out == model.bytes());

    // What was written reads back as the document says.
    const toolkit::IniDocument again = toolkit::IniDocument::fromBytes(out);
    for (const Edit& e : edits) FUZZ_CHECK(again.rawValue(e.section, e.key) == doc.rawValue(e.section, e.key));
    return 0;
}
