#pragma once
// Loading a component package into the designer: the library is opened from
// a path and its Register procedure fills the design registry. The designer
// and the package link the same shared design layer (libcorvanews20design),
// so the package's components and registrations land in the one registry and
// form streamer of the process.

#include <QString>

#include <optional>

namespace designer {

struct LoadedPackage {
    QString path;
    QString name;  // the package's own name, when it tells it
};

// Opens `path` and runs its Register; the error text names the path and the
// reason. A package already loaded from the same path registers again (its
// classes keep their places on the palette).
std::optional<LoadedPackage> loadPackage(const QString& path, QString* error);

// The module handle of a loaded package (for lookups the designer itself
// does not need, such as tests steering the package).
void* packageHandle(const QString& path);

}  // namespace designer
