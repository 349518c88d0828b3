#pragma once
// A line-preserving INI document. QSettings reorders keys and drops comments;
// the recorder's file is edited by hand too, so every line we do not write
// must survive byte for byte.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace toolkit {

class IniDocument {
public:
    IniDocument() = default;

    static IniDocument fromBytes(const QByteArray& bytes);
    // A missing file gives an empty document; an unreadable one raises EFileError.
    static IniDocument load(const QString& path);

    // Case-insensitive lookup of the first matching section and key; the value trimmed.
    std::optional<QString> value(const QString& section, const QString& key) const;

    // Replaces the value where the key stands; a missing key goes after the last
    // entry of its section, a missing section at the end of the document.
    void setValue(const QString& section, const QString& key, const QString& value);

    QByteArray toBytes() const;
    // Writes the whole document atomically: on failure the previous file is untouched
    // and EFileError carries the system's error text.
    void save(const QString& path) const;

    bool usesCrlf() const { return eol_ == "\r\n"; }

private:
    struct Line {
        QByteArray text;  // without its line end
        QByteArray eol;   // "\r\n", "\n" or empty for a last line without one
    };
    struct Section {
        qsizetype header;     // index of the "[name]" line, -1 for lines before any section
        qsizetype end;        // one past the section's last line
    };

    std::optional<Section> findSection(const QString& section) const;
    std::optional<qsizetype> findKey(const Section& s, const QString& key) const;
    void insertLine(qsizetype at, QByteArray text);

    std::vector<Line> lines_;
    QByteArray eol_ = "\r\n";  // used for lines we add; follows the file's own convention
};

}  // namespace toolkit
