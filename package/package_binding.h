#pragma once
// The package's binding to the engine: every component class has its own
// binding (its own lock, library handle and function table), and each loads
// libcorvanews20.so from disk by name through the normal library search. The
// package carries no engine image and never unloads the library.

#include "ws/engine_binding.h"

namespace CorvaneWS {
inline namespace Package {

// The binding of the component class whose engine object is `objectName`
// (WebSocketClient, WebSocketServer, WebSocketProxy or CertMgr).
EngineLibrary& packageLibrary(const char* objectName);

inline constexpr const char* kLibraryMissingText = "Could not load component library (libcorvanews20.so).";

}  // namespace Package
}  // namespace CorvaneWS
