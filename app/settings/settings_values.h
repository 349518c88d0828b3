#pragma once
// The editor's table of settings values: one text per key of the settings file.

#include "settings_schema.h"
#include "toolkit/exceptions.h"

#include <QString>

#include <map>
#include <utility>
#include <vector>

namespace settings {

class SettingsValues {
public:
    SettingsValues() : values_(settingsSchema().size()) {}

    const QString& value(const QString& key) const { return values_[indexOf(key)]; }
    void set(const QString& key, QString text) { values_[indexOf(key)] = std::move(text); }

    const QString& at(std::size_t schemaPosition) const { return values_.at(schemaPosition); }
    void setAt(std::size_t schemaPosition, QString text) { values_.at(schemaPosition) = std::move(text); }

    // A value read from a file whose bytes are not UTF-8 (an older tool wrote a
    // Latin-1 SSID) keeps those bytes here: while its text stays as read, it is
    // written back as the same bytes, wherever it is saved.
    void setAtFromFile(std::size_t schemaPosition, QString text, const QByteArray& bytes)
    {
        if (QString::fromUtf8(bytes).toUtf8() != bytes) fileBytes_[schemaPosition] = {text, bytes};
        else fileBytes_.erase(schemaPosition);
        setAt(schemaPosition, std::move(text));
    }
    // The file's bytes of the value at schemaPosition when its text is unchanged since it was read.
    const QByteArray* unchangedFileBytes(std::size_t schemaPosition) const
    {
        const auto it = fileBytes_.find(schemaPosition);
        return it != fileBytes_.end() && it->second.first == at(schemaPosition) ? &it->second.second : nullptr;
    }

    bool operator==(const SettingsValues& other) const { return values_ == other.values_; }

private:
    static std::size_t indexOf(const QString& key)
    {
        const auto i = schemaIndex(key);
        return i ? *i : throw toolkit::EArgumentException(QStringLiteral("Unknown settings key %1").arg(key));
    }

    std::vector<QString> values_;
    std::map<std::size_t, std::pair<QString, QByteArray>> fileBytes_;  // text as read, bytes as read
};

}  // namespace settings
