#include "form_tool_dialog.h"

#include <QHideEvent>

TformToolDialog::TformToolDialog(const QString& objectName, const QString& caption, QSize clientArea)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    setFixedSize(clientArea);
}

void TformToolDialog::showFrom(QWidget* opener, QWidget* centreOn)
{
    opener_ = opener;
    if (opener) opener->setEnabled(false);
    show();
    // Centred once shown, when the window frame and so the outer size are known.
    if (!centreOn) centreOn = opener;
    if (centreOn) {
        const QRect outer = frameGeometry();
        move(centreOn->frameGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
    }
    raise();
    activateWindow();
}

void TformToolDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // A spontaneous hide is the window system minimising us, not a close.
    if (event->spontaneous() || !opener_) return;
    opener_->setEnabled(true);
    opener_ = nullptr;
}
