#include "package_loader.h"

#include <QFileInfo>
#include <QHash>

#include <dlfcn.h>

namespace designer {

namespace {
QHash<QString, void*>& handles()
{
    static QHash<QString, void*> h;
    return h;
}
}  // namespace

std::optional<LoadedPackage> loadPackage(const QString& path, QString* error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    auto fail = [&](const QString& why) -> std::optional<LoadedPackage> {
        if (error) *error = QStringLiteral("The package %1 could not be loaded: %2").arg(absolute, why);
        return std::nullopt;
    };
    if (!QFileInfo::exists(absolute)) return fail(QStringLiteral("the file does not exist."));
    // Packages stay loaded: their classes live on in forms and in the registry.
    void* module = dlopen(absolute.toLocal8Bit().constData(), RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) return fail(QString::fromLocal8Bit(dlerror()));
    auto registerPackage = reinterpret_cast<void (*)()>(dlsym(module, "Corvanews_Register"));
    if (registerPackage == nullptr) return fail(QStringLiteral("it has no Register procedure (Corvanews_Register)."));
    registerPackage();
    handles().insert(absolute, module);
    LoadedPackage out{absolute, QFileInfo(absolute).completeBaseName()};
    if (auto name = reinterpret_cast<const char* (*)()>(dlsym(module, "Corvanews_PackageName")))
        out.name = QString::fromUtf8(name());
    return out;
}

void* packageHandle(const QString& path) { return handles().value(QFileInfo(path).absoluteFilePath()); }

}  // namespace designer
