#pragma once
// The editor's table of settings values: one text per key of the settings file.

#include "settings_schema.h"
#include "toolkit/exceptions.h"

#include <QString>

#include <vector>

namespace settings {

class SettingsValues {
public:
    SettingsValues() : values_(settingsSchema().size()) {}

    const QString& value(const QString& key) const { return values_[indexOf(key)]; }
    void set(const QString& key, QString text) { values_[indexOf(key)] = std::move(text); }

    const QString& at(std::size_t schemaPosition) const { return values_.at(schemaPosition); }
    void setAt(std::size_t schemaPosition, QString text) { values_.at(schemaPosition) = std::move(text); }

    bool operator==(const SettingsValues&) const = default;

private:
    static std::size_t indexOf(const QString& key)
    {
        const auto i = schemaIndex(key);
        return i ? *i : throw toolkit::EArgumentException(QStringLiteral("Unknown settings key %1").arg(key));
    }

    std::vector<QString> values_;
};

}  // namespace settings
