#pragma once
// "Settings": the units the main window shows lengths and speeds in, saving the
// current settings as the default set, and the text view of them.

#include "form_tool_dialog.h"

class SettingsFileActions;
namespace settings {
class SettingsDocument;
}

class QComboBox;
class QPushButton;
class QRadioButton;
class TformShowText;

class TformSettings : public TformToolDialog {
    Q_OBJECT

public:
    TformSettings(settings::SettingsDocument& document, SettingsFileActions& files);
    // The text view opens later than this dialog, so it is attached afterwards.
    void setTextView(TformShowText* textView) { textView_ = textView; }

    void FormShow();
    void rbSettingsCmClick();
    void rbSettingsInchClick();
    void rbSettingsKmClick();
    void rbSettingsMphClick();
    void btnOkClick();
    void btnCancelClick();
    void Button1Click();  // "Save Current Settings as Default"
    void Button4Click();  // "Show Text"

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Checks the buttons of the units the document shows, without converting anything.
    void showDocumentUnits();

    settings::SettingsDocument& document_;
    SettingsFileActions& files_;
    TformShowText* textView_ = nullptr;
    // The units at show time, for Cancel.
    bool savedCm_ = true;
    bool savedKm_ = true;
};
