// Sockets cannot be deleted while one of their own signals is on the stack,
// not even after the engine's handler has left (Qt's code runs on). Retired
// sockets wait here and are deleted from the event loop once no entry of the
// engine from the event loop is on the stack (deferred_delete.h). Whatever is still waiting
// when the application object goes away (or when the library is unloaded) is
// deleted then, so no socket outlives the event loop that could free it.
#pragma once

#include "engine/transport/deferred_delete.h"

class QObject;

namespace corvane::engine {

// Disconnects every signal of the object and deletes it later, safely.
void retireObject(QObject* object);

// A socket left to flush its output on its own. It retires itself when done;
// if the application ends first, it is deleted with the retired ones.
void lingerObject(QObject* object);
// The lingering socket finished: from now on it waits as a retired one.
void retireLingering(QObject* object);

// A socket signal handler of the engine is an entry from the event loop.
using SlotScope = EntryGuard;

} // namespace corvane::engine
