#pragma once
// Where downloaded recorded data goes, and how it is written.

#include <QByteArray>
#include <QString>

namespace device {

// The folder `name` ("DRV", "MMV", "SystemLog") beside the executable when that
// folder is writable, else under the user's application data location; created
// when missing. Ends without a separator. Raises
// std::runtime_error when it can be neither found nor made.
QString dataFolder(const QString& name);

// Same, below `base` instead of the executable's folder (tests, and a base the
// caller chose).
QString dataFolderUnder(const QString& base, const QString& name);

// Writes bytes [offset, offset + size) of `source` to `path` atomically: the
// file appears whole or not at all. Raises std::runtime_error with the
// system's text on failure.
void writeFileAtomically(const QString& path, const QByteArray& source, qint64 offset, qint64 size);

}  // namespace device
