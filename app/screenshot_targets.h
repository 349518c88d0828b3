#pragma once
// Renders every tab of the main window and every dialog into PNG files.

#include <QStringList>

// Returns the files written; an empty list when nothing could be written.
QStringList renderScreenshots(const QString& outputDirectory);
