#pragma once
// The package's four components, generated at build time from the engine's
// numbers tables (engine/include/corvanews20_<object>.h) and the policies in
// package/codegen/.

#include "wskcertmgr.h"
#include "wskwebsocketclient_pkg.h"
#include "wskwebsocketproxy.h"
#include "wskwebsocketserver.h"
