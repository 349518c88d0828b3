#pragma once
// TwskWebSocketClient: the RFC 6455 client component. It holds no protocol
// logic: every property access and method call is one numbered call into the
// engine object, and the engine's events come back through one sink that is
// decoded into typed handler calls.
//
// The class is generated at build time from the engine's client numbers
// (engine/include/corvanews20_client.h) and the tool's policy in
// ws/codegen/client_policy.cpp: its published properties, enumerations and
// Init defaults.

#include "wskwebsocketclient_gen.h"
