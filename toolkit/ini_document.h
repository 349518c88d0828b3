#pragma once
// A line-preserving INI document. QSettings reorders keys and drops comments;
// the recorder's file is edited by hand too, so every line we do not write
// must survive byte for byte, and so must a value we write back unchanged.
//
// The document keeps the file's bytes as they are and indexes them once:
// each section header and each "key=value" line is one 16-byte entry (hash of
// the case-folded name, offset), so a lookup costs a binary search whatever the
// file holds, and a file of blank lines or comments costs nothing beyond its
// bytes. Edits are kept beside the bytes and spliced in when written.

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace toolkit {

class IniDocument {
public:
    // The tool's INI files are its settings files: a few kilobytes. Larger files
    // are refused on load and on save, which bounds the memory a hostile file costs.
    static constexpr qint64 kLargestFile = 16 * 1024 * 1024;

    IniDocument() = default;

    // A UTF-8 byte-order mark in front is skipped for reading and kept for writing.
    // Bytes above kLargestFile raise EFileError.
    static IniDocument fromBytes(QByteArray bytes);
    // A missing file gives an empty document. Anything but a regular file, a file
    // above kLargestFile and an unreadable one raise EFileError with a text that
    // names the path and the reason.
    static IniDocument load(const QString& path);

    // Case-insensitive lookup of the first matching section and key; the value trimmed.
    std::optional<QString> value(const QString& section, const QString& key) const;
    // The same value as the file holds it, before any decoding.
    std::optional<QByteArray> rawValue(const QString& section, const QString& key) const;

    // Replaces the value where the key stands; a missing key goes after the last
    // entry of its section, a missing section at the end of the document. A value
    // equal to the one the line holds leaves the line as it was, byte for byte.
    // Line breaks inside a value become blanks: they would start new lines.
    void setValue(const QString& section, const QString& key, const QString& value);
    void setRawValue(const QString& section, const QString& key, QByteArray value);

    QByteArray toBytes() const;
    // Writes the whole document atomically: on failure the previous file is untouched
    // and EFileError carries the system's error text. A path that exists as something
    // else than a regular file is refused, as is a document above kLargestFile.
    void save(const QString& path) const;

    bool usesCrlf() const { return eol_ == "\r\n"; }
    bool hasByteOrderMark() const { return body_ > 0; }

private:
    struct Section {
        quint64 hash;     // of the case-folded name
        quint32 header;   // offset of the "[name]" line
        quint32 end;      // offset of the next section's header line, or the end of the bytes
    };
    struct Entry {
        quint64 hash;       // of the section's header offset and the case-folded key
        quint32 line;       // offset of the "key=value" line
        quint32 contentEnd; // offset of its line end
    };
    struct AddedLine {
        QByteArray foldedKey;
        QByteArray key;
        QByteArray value;
    };
    struct Replacement {
        quint32 contentEnd;  // the replaced line's end, before its line end
        QByteArray text;     // "key=value"
    };
    struct Appended {
        Section section;
        std::vector<AddedLine> lines;
    };
    struct AddedSection {
        QByteArray foldedName;
        QByteArray name;
        std::vector<AddedLine> lines;
    };

    const Section* findSection(const QByteArray& foldedName) const;
    const Entry* findEntry(const Section& s, const QByteArray& foldedKey) const;
    std::optional<QByteArray> currentLine(const QString& section, const QString& key) const;
    quint32 insertionPoint(const Section& s) const;
    // unchanged(v) tells whether the new value is the value v the file holds.
    template <class Unchanged>
    void assign(const QString& section, const QString& key, QByteArray value, Unchanged unchanged);

    QByteArray bytes_;    // the document as read, byte-order mark included
    qsizetype body_ = 0;  // where the text begins, after a byte-order mark
    std::vector<Section> sections_;  // sorted by (hash, header)
    std::vector<Entry> entries_;     // sorted by (hash, line)
    QByteArray eol_ = "\r\n";        // used for lines we add; follows the file's own convention

    std::map<quint32, Replacement> replaced_;  // by line offset
    std::map<quint32, Appended> appended_;     // by section header offset: lines added at its end
    std::vector<AddedSection> addedSections_;
};

}  // namespace toolkit
