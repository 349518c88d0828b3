#pragma once

#include "user_interaction.h"

namespace toolkit {

// The real dialogs: QMessageBox and QFileDialog.
class QtUserInteraction final : public UserInteraction {
public:
    void information(QWidget* parent, const QString& text, const QString& caption) override;
    void error(QWidget* parent, const QString& text, const QString& caption) override;
    bool confirm(QWidget* parent, const QString& text, const QString& caption) override;
    void notice(QWidget* parent, const QString& text, const QString& details, const QString& caption) override;
    int choose(QWidget* parent, const QString& text, const QString& caption, const QStringList& buttons) override;
    std::optional<QStringList> openFiles(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<QString> chooseFolder(QWidget* parent, const QString& title, const QString& startDirectory) override;
};

}  // namespace toolkit
