#include "load_report.h"

#include "settings_schema.h"
#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QFileInfo>

namespace settings {

LoadReport inspectSettingsFile(const QString& path)
{
    return inspectSettings(toolkit::IniDocument::load(path), path, QFileInfo::exists(path));
}

LoadReport inspectSettings(const toolkit::IniDocument& doc, const QString& path, bool exists)
{
    LoadReport report;
    report.path = QFileInfo(path).absoluteFilePath();
    report.exists = exists;
    for (const SettingKey& k : settingsSchema()) {
        if (doc.value(QLatin1String(k.section), QLatin1String(k.key)))
            ++report.knownKeys;
        else
            report.missingKeys << QLatin1String(k.section) + u'/' + QLatin1String(k.key);
    }
    if (report.exists && report.knownKeys == 0) {
        QStringList sections;
        for (const char* s : kSections) sections << QStringLiteral("[%1]").arg(QLatin1String(s));
        throw toolkit::EFileError(
            QStringLiteral("%1 is not a settings file: it holds none of the sections %2 with their keys. "
                           "Nothing was changed.")
                .arg(report.path, sections.join(QStringLiteral(", "))));
    }
    return report;
}

QString loadNotice(const LoadReport& report)
{
    QStringList parts;
    const auto missing = report.missingKeys.size();
    if (missing > 0 && !report.exists)
        parts << QStringLiteral("%1 does not exist: all %2 keys were given their defaults.").arg(report.path).arg(missing);
    else if (missing > 0)
        parts << QStringLiteral("%1 lacked %2 of %3 keys; they were given their defaults.")
                     .arg(report.path)
                     .arg(missing)
                     .arg(settingsSchema().size());
    // Named in the notice itself: the window shows them as something else (7 as ticked).
    if (!report.unknownValues.isEmpty())
        parts << QStringLiteral("%1 holds values the recorder does not know; check them before saving:\n%2")
                     .arg(report.path, report.unknownValues.join(u'\n'));
    return parts.join(u'\n');
}

QString loadNoticeDetails(const LoadReport& report)
{
    QStringList lines;
    for (const QString& entry : report.missingKeys) {
        const SettingKey& key = schemaKey(entry.section(u'/', 1));
        lines << placeOf(key) + QStringLiteral(" = ") + QLatin1String(key.defaultValue);
    }
    return lines.join(u'\n');
}

QString keyContextMessage(const QString& key, const QString& path, const QString& problem)
{
    const auto index = schemaIndex(key);
    QString where = index ? placeOf(settingsSchema()[*index]) : key;
    if (!path.isEmpty()) where += QStringLiteral(" of ") + QFileInfo(path).absoluteFilePath();
    return where + QStringLiteral(": ") + problem;
}

}  // namespace settings
