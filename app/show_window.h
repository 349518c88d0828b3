#pragma once
// Opening a top-level window that may already be open behind others: shown,
// raised and given the focus, as a menu entry or a button that opens it promises.

#include <QWidget>

inline void showWindow(QWidget* window)
{
    if (!window) return;
    window->show();
    window->raise();
    window->activateWindow();
}
