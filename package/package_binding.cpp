#include "package/package_binding.h"

#include <cstring>
#include <stdexcept>

namespace CorvaneWS {
inline namespace Package {

namespace {

EngineLibrary::Options packageOptions()
{
    return EngineLibrary::Options{
        QStringLiteral("libcorvanews20.so"),
        QString(),  // no image: always the file
        QStringLiteral("libcorvanews20.so could not be loaded.  libcorvanews20.so is required."),
        QStringLiteral("Corvane WebSocket Server 2020"),
    };
}

}  // namespace

EngineLibrary& packageLibrary(const char* objectName)
{
    // One binding per class, made on first use; never destroyed, so the
    // library stays loaded until the process ends.
    static EngineLibrary* const client = new EngineLibrary(packageOptions());
    static EngineLibrary* const server = new EngineLibrary(packageOptions());
    static EngineLibrary* const proxy = new EngineLibrary(packageOptions());
    static EngineLibrary* const certMgr = new EngineLibrary(packageOptions());
    if (std::strcmp(objectName, "WebSocketClient") == 0) return *client;
    if (std::strcmp(objectName, "WebSocketServer") == 0) return *server;
    if (std::strcmp(objectName, "WebSocketProxy") == 0) return *proxy;
    if (std::strcmp(objectName, "CertMgr") == 0) return *certMgr;
    throw std::invalid_argument(objectName);
}

}  // namespace Package
}  // namespace CorvaneWS
