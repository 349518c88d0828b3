#pragma once
// "Show Text": the main window's current settings as the settings file they
// would be written as, ready to be copied.

#include "form_tool_dialog.h"

class SettingsFileActions;

class QPlainTextEdit;

class TformShowText : public TformToolDialog {
    Q_OBJECT

public:
    explicit TformShowText(SettingsFileActions& files);

    // Every showing writes "./temp.ini" from the editor and shows that file.
    void FormShow();
    void Button1Click();  // "Select All and Copy to Clipboard (CTRL+C)"
    void Button3Click();  // "OK"

    QPlainTextEdit* memo() const { return Memo1; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setTextColour(const QColor& colour);

    SettingsFileActions& files_;
    QPlainTextEdit* Memo1;
};
