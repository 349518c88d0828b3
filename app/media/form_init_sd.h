#pragma once
// The SD card chooser: created at start with the other windows and never shown,
// because the system's folder dialog chooses the folder instead. It is kept so
// that the program's set of windows stays the one other parts expect.

#include "form_tool_dialog.h"

class QComboBox;
class QListWidget;

class TformInitSd : public TformToolDialog {
    Q_OBJECT

public:
    TformInitSd();

private:
    QComboBox* DriveComboBox1;
    QListWidget* dirListBox;
};
