#include "user_interaction.h"

#include "qt_user_interaction.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace toolkit {

namespace {
UserInteraction* g_replacement = nullptr;
}

std::optional<QString> UserInteraction::openFile(const FileDialogRequest& request)
{
    auto files = openFiles(request);
    if (!files || files->isEmpty()) return std::nullopt;
    return files->first();
}

UserInteraction& userInteraction()
{
    static QtUserInteraction real;
    return g_replacement ? *g_replacement : real;
}

void setUserInteraction(UserInteraction* replacement) { g_replacement = replacement; }

QString suffixOfFilter(const QString& qtFilter)
{
    static const QRegularExpression firstPattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const auto match = firstPattern.match(qtFilter);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString qtFilterFromPairs(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' '));
    return out.join(QStringLiteral(";;"));
}

static QString captionOr(const QString& caption)
{
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

void QtUserInteraction::information(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::information(parent, captionOr(caption), text);
}

void QtUserInteraction::error(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::critical(parent, captionOr(caption), text);
}

bool QtUserInteraction::confirm(QWidget* parent, const QString& text, const QString& caption)
{
    return QMessageBox::question(parent, captionOr(caption), text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtUserInteraction::notice(QWidget* parent, const QString& text, const QString& details, const QString& caption)
{
    QMessageBox box(QMessageBox::Information, captionOr(caption), text, QMessageBox::Ok, parent);
    box.setDetailedText(details);  // behind "Show Details..."
    box.exec();
}

int QtUserInteraction::choose(QWidget* parent, const QString& text, const QString& caption, const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Question, captionOr(caption), text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> added;
    for (const QString& b : buttons) added << box.addButton(b, QMessageBox::ActionRole);
    if (!added.isEmpty()) box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

static void prepare(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setWindowTitle(request.title);
    dialog.setNameFilter(qtFilterFromPairs(request.filter));
    if (!request.directory.isEmpty()) dialog.setDirectory(request.directory);
    if (!request.fileName.isEmpty() && !request.fileName.contains(u'*')) dialog.selectFile(request.fileName);
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
}

std::optional<QStringList> QtUserInteraction::openFiles(const FileDialogRequest& request)
{
    QFileDialog dialog(request.parent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet is a valid answer unless the caller insists.
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles
                       : request.mustExist  ? QFileDialog::ExistingFile
                                            : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles();
}

std::optional<QString> QtUserInteraction::saveFile(const FileDialogRequest& request)
{
    QFileDialog dialog(request.parent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without extension takes the one of the chosen filter, so callers that
    // choose the format by extension (CSV or GPX) write what the user picked.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &request](const QString& filter) {
        const QString suffix = suffixOfFilter(filter);
        dialog.setDefaultSuffix(suffix.isEmpty() ? request.defaultSuffix : suffix);
    });
    if (!dialog.nameFilters().isEmpty()) emit dialog.filterSelected(dialog.selectedNameFilter());
    // The file is updated in place, never replaced, so asking before overwrite would mislead.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtUserInteraction::chooseFolder(QWidget* parent, const QString& title,
                                                       const QString& startDirectory)
{
    const QString dir = QFileDialog::getExistingDirectory(parent, title, startDirectory);
    if (dir.isEmpty()) return std::nullopt;
    return dir;
}

}  // namespace toolkit
