#include "settings_document.h"

#include "settings_file.h"
#include "value_checks.h"
#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QFileInfo>

namespace settings {

namespace {

SettingsDocument::Candidate candidateFrom(const toolkit::IniDocument& doc, const QString& path, bool exists,
                                          const Units& units)
{
    SettingsDocument::Candidate c{{}, inspectSettings(doc, path, exists)};  // refuses a file that is no settings file
    readSettings(doc, c.values);
    c.report.unknownValues = unknownEnumerationValues(c.values);
    showValues(c.values, units, c.report.path);  // every value shown before anything changes
    return c;
}

}  // namespace

SettingsDocument::SettingsDocument(QObject* parent) : QObject(parent)
{
    readSettings(toolkit::IniDocument::fromBytes({}), values_);
    clean_ = values_;
}

SettingsDocument::Candidate SettingsDocument::check(const QString& path) const
{
    return candidateFrom(toolkit::IniDocument::load(path), path, QFileInfo::exists(path), units_);
}

SettingsDocument::Candidate SettingsDocument::checkBytes(const QByteArray& bytes, const QString& name) const
{
    return candidateFrom(toolkit::IniDocument::fromBytes(bytes), name, true, units_);
}

void SettingsDocument::load(const QString& path) { adopt(check(path)); }

void SettingsDocument::adopt(Candidate candidate)
{
    values_ = std::move(candidate.values);
    lastLoad_ = std::move(candidate.report);
    markClean(lastLoad_.path);
    emit replaced();
}

void SettingsDocument::refuseEmptyRequired() const
{
    if (const QStringList empty = emptyRequiredValues(values_); !empty.isEmpty())
        throw toolkit::EConvertError(QStringLiteral("These settings must not be empty; the recorder needs a value:\n%1")
                                         .arg(empty.join(u'\n')));
}

void SettingsDocument::save(const QString& path)
{
    refuseEmptyRequired();
    writeSettingsFile(path, values_);
    markClean(QFileInfo(path).absoluteFilePath());
}

void SettingsDocument::writeCopy(const QString& path)
{
    refuseEmptyRequired();
    writeSettingsFile(path, values_);
    const QString written = QFileInfo(path).absoluteFilePath();
    if (written == path_) markClean(path_);
}

QByteArray SettingsDocument::toBytes() const
{
    refuseEmptyRequired();
    toolkit::IniDocument doc = toolkit::IniDocument::fromBytes({});
    writeSettings(doc, values_);
    return doc.toBytes();
}

void SettingsDocument::setValues(const SettingsValues& values)
{
    values_ = values;
    const bool modified = !(values_ == clean_);
    if (modified == modified_) return;
    modified_ = modified;
    emit stateChanged();
}

void SettingsDocument::setValue(const QString& key, const QString& text)
{
    SettingsValues v = values_;
    v.set(key, text);
    setValues(v);
}

void SettingsDocument::setUnreadableEdit()
{
    if (modified_) return;
    modified_ = true;
    emit stateChanged();
}

void SettingsDocument::settle(const SettingsValues& values)
{
    clean_ = values;
    setValues(values);
}

void SettingsDocument::markClean(const QString& path)
{
    clean_ = values_;
    path_ = path;
    modified_ = false;
    emit stateChanged();
}

void SettingsDocument::setUnit(DisplayUnit unit)
{
    Units next = units_;
    (isLengthUnit(unit) ? next.length : next.speed) = unit;
    if (next == units_) return;
    showValues(values_, next, path_);  // a field that holds no number stops the change here
    units_ = next;
    emit unitsChanged();
}

}  // namespace settings
