#pragma once
// What the file actions need of the window that shows the settings document.

class QWidget;

class EditorView {
public:
    virtual ~EditorView() = default;

    // Takes what the controls show into the document. A field that holds no
    // valid value raises EConvertError naming its key, and the document keeps
    // what it had.
    virtual void commitEdits() = 0;
    // A number typed into the visible encryption field becomes the number, and
    // the field shows "####" again.
    virtual void commitEncryptionNumber() = 0;
    // The visible encryption field shows "####"; a number typed there is dropped.
    virtual void resetEncryptionDisplay() = 0;
    // Parents the dialogs the actions open.
    virtual QWidget* dialogParent() = 0;
};
