// Sockets cannot be deleted while one of their own signals is on the stack.
// Retired sockets wait here and are deleted from the event loop once no
// socket signal handler of the engine is running. Whatever is still waiting
// when the application object goes away (or when the library is unloaded) is
// deleted then, so no socket outlives the event loop that could free it.
#pragma once

class QObject;

namespace corvane::engine {

// Disconnects every signal of the object and deletes it later, safely.
void retireObject(QObject* object);

// A socket left to flush its output on its own. It retires itself when done;
// if the application ends first, it is deleted with the retired ones.
void lingerObject(QObject* object);
// The lingering socket finished: from now on it waits as a retired one.
void retireLingering(QObject* object);

// True while a socket signal handler of the engine is on the stack.
bool inSocketSlot();

// Marks a socket signal handler of the engine as running.
class SlotScope {
public:
    SlotScope();
    ~SlotScope();
    SlotScope(const SlotScope&) = delete;
    SlotScope& operator=(const SlotScope&) = delete;
};

} // namespace corvane::engine
