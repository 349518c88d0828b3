#pragma once
// The program's icon, the same picture the desktop entry shows.

#include <QIcon>

QIcon brindleAppIcon();
