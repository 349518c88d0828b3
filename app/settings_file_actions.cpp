#include "settings_file_actions.h"

#include "editor_view.h"
#include "settings/settings_document.h"
#include "settings/value_checks.h"
#include "toolkit/exceptions.h"
#include "toolkit/user_interaction.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString kAppTitle = QStringLiteral("Brindle Configuration Tool");
const QString kDefaultSet = QStringLiteral("./setting.ini");

QString unsavedWhat(const settings::SettingsDocument& document)
{
    return document.path().isEmpty() ? QStringLiteral("the settings") : QFileInfo(document.path()).fileName();
}

}  // namespace

SettingsFileActions::SettingsFileActions(settings::SettingsDocument& document, EditorView& view, QObject* parent)
    : QObject(parent), document_(document), view_(view)
{
}

QString SettingsFileActions::dialogFolder() const
{
    return document_.path().isEmpty() ? QDir::currentPath() : QFileInfo(document_.path()).absolutePath();
}

void SettingsFileActions::flushEdits()
{
    try {
        view_.commitEdits();
    } catch (const std::exception&) {
        document_.setUnreadableEdit();
    }
}

bool SettingsFileActions::settleUnsavedEdits(const QString& question)
{
    flushEdits();
    if (!document_.isModified()) return true;
    const int answer = toolkit::userInteraction().choose(view_.dialogParent(), question, kAppTitle,
                                                         {QStringLiteral("Save"), QStringLiteral("Discard"), QStringLiteral("Cancel")});
    if (answer == 1) return true;
    if (answer != 0) return false;
    save();
    return !document_.isModified();  // a cancelled save dialog, or Go Back, keeps the edits
}

void SettingsFileActions::open()
{
    if (!settleUnsavedEdits(QStringLiteral("The window holds changes not yet saved. Save %1 before opening another file?")
                                .arg(unsavedWhat(document_))))
        return;
    toolkit::FileDialogRequest request;
    request.parent = view_.dialogParent();
    request.title = QStringLiteral("Open");
    request.fileName = QStringLiteral("*.ini");
    request.filter = QStringLiteral("ini|*.ini");
    request.directory = dialogFolder();
    const auto file = toolkit::userInteraction().openFile(request);
    if (!file) return;
    openFile(*file, false);
}

bool SettingsFileActions::openFile(const QString& path, bool askFirst)
{
    if (askFirst &&
        !settleUnsavedEdits(QStringLiteral("The window holds changes not yet saved. Save %1 before opening %2?")
                                .arg(unsavedWhat(document_), QFileInfo(path).fileName())))
        return false;
    document_.load(path);
    view_.resetEncryptionDisplay();
    const settings::LoadReport& report = document_.lastLoad();
    if (const QString notice = settings::loadNotice(report); !notice.isEmpty())
        toolkit::userInteraction().notice(view_.dialogParent(), notice, settings::loadNoticeDetails(report));
    return true;
}

bool SettingsFileActions::collectChecked(const QString& action)
{
    view_.commitEdits();
    if (const QStringList problems = settings::problemsBeforeSave(document_.values()); !problems.isEmpty()) {
        const QString text = QStringLiteral("These values are not what the recorder expects:\n\n%1\n\n"
                                            "Go back and correct them, or %2 anyway?")
                                 .arg(problems.join(u'\n'), action.toLower());
        const int answer = toolkit::userInteraction().choose(view_.dialogParent(), text, action,
                                                             {QStringLiteral("Go Back"), action + QStringLiteral(" Anyway")});
        if (answer != 1) return false;
    }
    return true;
}

void SettingsFileActions::save()
{
    toolkit::FileDialogRequest request;
    request.parent = view_.dialogParent();
    request.title = QStringLiteral("Save");
    request.fileName = document_.path().isEmpty() ? QStringLiteral("setting.ini") : QFileInfo(document_.path()).fileName();
    request.filter = QStringLiteral("ini|*.ini");
    request.defaultSuffix = QStringLiteral("ini");
    request.directory = dialogFolder();
    const auto file = toolkit::userInteraction().saveFile(request);
    if (!file) return;
    view_.commitEncryptionNumber();
    saveTo(*file);
}

bool SettingsFileActions::saveTo(const QString& path)
{
    if (!collectChecked(QStringLiteral("Save"))) return false;
    document_.save(path);
    return true;
}

bool SettingsFileActions::saveAsDefault()
{
    view_.commitEncryptionNumber();
    if (!collectChecked(QStringLiteral("Save"))) return false;
    document_.writeCopy(kDefaultSet);
    return true;
}

void SettingsFileActions::writeCopy(const QString& path)
{
    view_.commitEdits();
    document_.writeCopy(path);
}

std::optional<QByteArray> SettingsFileActions::currentFileBytes()
{
    if (!collectChecked(QStringLiteral("Send"))) return std::nullopt;
    return document_.toBytes();
}

void SettingsFileActions::takeFromRecorder(const QByteArray& bytes)
{
    const QString target = QFileInfo(kDefaultSet).absoluteFilePath();
    settings::SettingsDocument::Candidate candidate;
    try {
        candidate = document_.checkBytes(bytes, target);
    } catch (const toolkit::Exception& e) {
        emit logLine(QStringLiteral("Settings from the recorder refused; %1 was not changed: %2").arg(target, e.message()));
        throw toolkit::Exception(
            QStringLiteral("The recorder sent settings that cannot be loaded; %1 was not changed.\n\n%2").arg(target, e.message()));
    }

    flushEdits();
    if (document_.isModified()) {
        const int answer = toolkit::userInteraction().choose(
            view_.dialogParent(),
            QStringLiteral("The recorder has sent its settings, and the window holds changes not yet saved.\n\n"
                           "Taking the recorder's settings replaces %1 and drops your changes.")
                .arg(target),
            QStringLiteral("Settings from the Recorder"),
            {QStringLiteral("Keep My Changes"), QStringLiteral("Take the Recorder's Settings")});
        if (answer != 1) {
            emit logLine(QStringLiteral("Settings from the recorder not taken: the window keeps its changes; %1 was not changed.")
                             .arg(target));
            return;
        }
    }

    const bool existed = QFileInfo::exists(target);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw toolkit::EFileError(QStringLiteral("Cannot write the recorder's settings to %1. %2").arg(target, file.errorString()));
    emit logLine(existed ? QStringLiteral("Settings from the recorder replaced %1.").arg(target)
                         : QStringLiteral("Settings from the recorder saved as %1.").arg(target));
    openFile(target, false);
}

void SettingsFileActions::showUnit(settings::DisplayUnit unit)
{
    view_.commitEdits();  // a field that holds no number is named before anything is converted
    document_.setUnit(unit);
}

void SettingsFileActions::receiveFromRecorder(const QByteArray& bytes)
{
    const bool queued = fromRecorder_.has_value();
    fromRecorder_ = bytes;
    if (queued || takingFromRecorder_) return;  // the call on its way, or the one asking now, takes it
    QMetaObject::invokeMethod(this, [this] { takePendingFromRecorder(); }, Qt::QueuedConnection);
}

void SettingsFileActions::takePendingFromRecorder()
{
    takingFromRecorder_ = true;
    while (fromRecorder_) {
        const QByteArray bytes = std::move(*fromRecorder_);
        fromRecorder_.reset();
        const auto take = [&] { takeFromRecorder(bytes); };
        if (reportFailures_) reportFailures_(take);
        else take();
    }
    takingFromRecorder_ = false;
}

bool SettingsFileActions::confirmClose()
{
    return settleUnsavedEdits(
        QStringLiteral("The window holds changes not yet saved. Save %1 before closing?").arg(unsavedWhat(document_)));
}
