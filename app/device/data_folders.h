#pragma once
// Where downloaded recorded data goes, and how it is written.

#include <QByteArray>
#include <QString>

namespace device {

// The folder the DRV, MMV and SystemLog folders go in. On Linux the working
// folder, beside "./setting.ini" (where ./run.sh and the desktop entry start
// the tool): the executable's folder is the build tree or /usr/bin there.
// Elsewhere the executable's folder. When that folder is not writable, the
// user's application data location.
QString dataFolderBase();

// The folder `name` ("DRV", "MMV", "SystemLog") in dataFolderBase(), created
// when missing. Ends without a separator. Raises std::runtime_error when it
// can be neither found nor made.
QString dataFolder(const QString& name);

// The folder `name` where dataFolder() would find it, when it exists; empty
// otherwise. Nothing is created.
QString existingDataFolder(const QString& name);

// Same, below `base` instead of the executable's folder (tests, and a base the
// caller chose).
QString dataFolderUnder(const QString& base, const QString& name);

// Writes bytes [offset, offset + size) of `source` to `path` atomically: the
// file appears whole or not at all. Raises std::runtime_error with the
// system's text on failure.
void writeFileAtomically(const QString& path, const QByteArray& source, qint64 offset, qint64 size);

}  // namespace device
