// Sockets cannot be deleted while one of their own signals is on the stack.
// Retired sockets wait here and are deleted from the event loop once no
// socket signal handler of the engine is running.
#pragma once

class QObject;

namespace corvane::engine {

// Disconnects every signal of the object and deletes it later, safely.
void retireObject(QObject* object);

// Marks a socket signal handler of the engine as running.
class SlotScope {
public:
    SlotScope();
    ~SlotScope();
    SlotScope(const SlotScope&) = delete;
    SlotScope& operator=(const SlotScope&) = delete;
};

} // namespace corvane::engine
