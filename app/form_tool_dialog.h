#pragma once

#include <QDialog>
#include <QPointer>

// A small modeless window opened over another one (about box, preferences,
// text view): it stays on top with a fixed size, opens centred on the main
// window, and the window that opened it stays disabled until this one is
// closed by any means, its own buttons, the close box or Escape.
class TformToolDialog : public QDialog {
    Q_OBJECT

public:
    TformToolDialog(const QString& objectName, const QString& caption, QSize clientArea);

    // `centreOn` is the main window; when null, the opener is taken for it.
    void showFrom(QWidget* opener, QWidget* centreOn = nullptr);
    // The window this one was last opened from.
    QWidget* opener() const { return opener_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QPointer<QWidget> opener_;
};
