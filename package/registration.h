#pragma once
// Registration with the designer: each component unit's Register puts its one
// class on the palette page "Corvane WebSocket Server"; the package unit's
// Register puts all four there, TwskCertMgr, TwskWebSocketClient,
// TwskWebSocketProxy, TwskWebSocketServer in that order. Every Register also
// makes TAboutProperty the editor of TAbout properties on any class.

#include <QString>

namespace CorvaneWS {

inline const QString kPalettePage = QStringLiteral("Corvane WebSocket Server");

namespace Wskwebsocketclient {
void Register();
}
namespace Wskwebsocketserver {
void Register();
}
namespace Wskwebsocketproxy {
void Register();
}
namespace Wskcertmgr {
void Register();
}
namespace Corvanews {
void Register();
}

}  // namespace CorvaneWS

// What a designer host looks up in the loaded package library.
extern "C" void Corvanews_Register();
