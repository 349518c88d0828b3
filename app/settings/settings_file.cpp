#include "settings_file.h"

#include "toolkit/ini_document.h"

namespace settings {

void readSettingsFile(const QString& path, SettingsValues& values)
{
    const toolkit::IniDocument doc = toolkit::IniDocument::load(path);
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const SettingKey& k = schema[i];
        values.setAt(i, doc.value(QLatin1String(k.section), QLatin1String(k.key))
                            .value_or(QString::fromLatin1(k.defaultValue)));
    }
}

void writeSettingsFile(const QString& path, const SettingsValues& values)
{
    toolkit::IniDocument doc = toolkit::IniDocument::load(path);
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i)
        doc.setValue(QLatin1String(schema[i].section), QLatin1String(schema[i].key), values.at(i));
    doc.save(path);
}

}  // namespace settings
