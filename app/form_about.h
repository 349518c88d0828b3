#pragma once
// "Information": the tool's name, its version and the firmware it was made for.

#include "form_tool_dialog.h"

class TformAbout : public TformToolDialog {
    Q_OBJECT

public:
    TformAbout();

    void Button1Click();  // "OK"
};
