#pragma once
// The main window: the tabbed editor of the recorder's settings file.

#include "settings/settings_binding.h"
#include "settings/settings_values.h"

#include <QMainWindow>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

// The screen's display scale in percent, set once when the main window is created.
extern int gDisplayScale;

class TFormWebsocketclientf : public QMainWindow {
    Q_OBJECT

public:
    // settingsFolder: where "./setting.ini" is looked for at start (the working folder by default).
    explicit TFormWebsocketclientf(QWidget* parent = nullptr);
    ~TFormWebsocketclientf() override;

    // The four moves between file, table and controls, and the two user-visible pairs.
    void ReadSettingsFile(const QString& path);
    void FillWindowFromValues();
    void CollectValuesFromWindow();
    void WriteSettingsFile(const QString& path);
    void LoadSettingsFile(const QString& path);
    void SaveSettingsFile(const QString& path);

    const settings::SettingsValues& SettingsValues() const { return values_; }

    // Handlers, public so that tests and the other windows can drive them.
    void Button5Click();  // "PC Time"
    void Button6Click();  // "Open"
    void Button7Click();  // "Save"

    // Takes a number typed into the visible encryption field as the new number.
    void CommitEncryptionNumber();

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

private:
    void FormCreate();
    void buildWindow();
    QWidget* buildCameraAnglePanel();
    settings::EditorContext editor() const { return {const_cast<TFormWebsocketclientf*>(this), gDisplayScale}; }

    settings::SettingsValues values_;
    QTabWidget* PageControl1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
};
