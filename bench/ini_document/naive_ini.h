#pragma once
// The peer: the INI document as this tool had it before it was indexed. One
// object per line, and every lookup scans the lines from the top. Kept here
// only to be measured against.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class NaiveIni {
public:
    static NaiveIni fromBytes(const QByteArray& bytes)
    {
        NaiveIni doc;
        qsizetype pos = 0;
        bool eolChosen = false;
        while (pos < bytes.size()) {
            const qsizetype nl = bytes.indexOf('\n', pos);
            Line line;
            if (nl < 0) {
                line.text = bytes.mid(pos);
                pos = bytes.size();
            } else {
                const bool cr = nl > pos && bytes[nl - 1] == '\r';
                line.text = bytes.mid(pos, nl - pos - (cr ? 1 : 0));
                line.eol = cr ? QByteArray("\r\n") : QByteArray("\n");
                pos = nl + 1;
                if (!eolChosen) doc.eol_ = line.eol, eolChosen = true;
            }
            doc.lines_.push_back(std::move(line));
        }
        return doc;
    }

    std::optional<QString> value(const QString& section, const QString& key) const
    {
        const auto s = findSection(section);
        if (!s) return std::nullopt;
        const auto k = findKey(*s, key);
        if (!k) return std::nullopt;
        const QByteArray& text = lines_[*k].text;
        return QString::fromUtf8(text.mid(text.indexOf('=') + 1).trimmed());
    }

    void setValue(const QString& section, const QString& key, const QString& value)
    {
        const QByteArray v = value.toUtf8();
        const auto s = findSection(section);
        if (!s) {
            if (!lines_.empty() && !lines_.back().text.trimmed().isEmpty()) insertLine(lines_.size(), {});
            insertLine(lines_.size(), '[' + section.toUtf8() + ']');
            insertLine(lines_.size(), key.toUtf8() + '=' + v);
            return;
        }
        if (const auto k = findKey(*s, key)) {
            QByteArray& text = lines_[*k].text;
            text = text.left(text.indexOf('=')).trimmed() + '=' + v;
            return;
        }
        qsizetype at = s->end;
        while (at > s->header + 1 && lines_[at - 1].text.trimmed().isEmpty()) --at;
        insertLine(at, key.toUtf8() + '=' + v);
    }

    QByteArray toBytes() const
    {
        QByteArray out;
        for (const Line& line : lines_) out += line.text + line.eol;
        return out;
    }

private:
    struct Line {
        QByteArray text;
        QByteArray eol;
    };
    struct Section {
        qsizetype header, end;
    };
    static std::optional<QByteArray> sectionName(const QByteArray& line)
    {
        const QByteArray t = line.trimmed();
        if (!t.startsWith('[')) return std::nullopt;
        const qsizetype close = t.indexOf(']');
        if (close < 0) return std::nullopt;
        return t.mid(1, close - 1).trimmed();
    }
    static bool sameName(const QByteArray& utf8, const QString& name)
    {
        return QString::fromUtf8(utf8).compare(name, Qt::CaseInsensitive) == 0;
    }
    std::optional<Section> findSection(const QString& section) const
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
    std::optional<qsizetype> findKey(const Section& s, const QString& key) const
    {
        for (qsizetype i = s.header + 1; i < s.end; ++i) {
            const QByteArray& text = lines_[i].text;
            const qsizetype eq = text.indexOf('=');
            const QByteArray t = text.trimmed();
            if (eq < 0 || t.startsWith(';') || t.startsWith('#')) continue;
            if (sameName(text.left(eq).trimmed(), key)) return i;
        }
        return std::nullopt;
    }
    void insertLine(qsizetype at, QByteArray text)
    {
        if (at > 0 && lines_[at - 1].eol.isEmpty()) lines_[at - 1].eol = eol_;
        lines_.insert(lines_.begin() + at, Line{std::move(text), eol_});
    }

    std::vector<Line> lines_;
    QByteArray eol_ = "\r\n";
};
