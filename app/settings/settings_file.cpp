#include "settings_file.h"

#include "toolkit/ini_document.h"

namespace settings {

void readSettings(const toolkit::IniDocument& doc, SettingsValues& values)
{
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const SettingKey& k = schema[i];
        const QByteArray raw =
            doc.rawValue(QLatin1String(k.section), QLatin1String(k.key)).value_or(QByteArray(k.defaultValue));
        values.setAtFromFile(i, QString::fromUtf8(raw), raw);
    }
}

void writeSettings(toolkit::IniDocument& doc, const SettingsValues& values)
{
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const QLatin1String section(schema[i].section), key(schema[i].key);
        if (const QByteArray* bytes = values.unchangedFileBytes(i)) doc.setRawValue(section, key, *bytes);
        else doc.setValue(section, key, values.at(i));
    }
}

void readSettingsFile(const QString& path, SettingsValues& values)
{
    readSettings(toolkit::IniDocument::load(path), values);
}

void writeSettingsFile(const QString& path, const SettingsValues& values)
{
    toolkit::IniDocument doc = toolkit::IniDocument::load(path);
    writeSettings(doc, values);
    doc.save(path);
}

}  // namespace settings
