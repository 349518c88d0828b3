// Engine code may end what is on the stack below it: an event handler
// destroys its own object, a connection ends inside its own read, a proxy's
// forward goes from its own socket's callback. Such things are retired
// instead of deleted, and everything retired is freed when the outermost
// entry into the engine leaves, that is when no engine code is on the stack
// any more. Every entry holds an EntryGuard: a call of the host, or a signal,
// timer or notifier of the event loop. So nothing waits for the event loop to
// turn again, and a host that never returns to it leaks nothing.
//
// A Qt object whose own signal is being handled outlives even that, because
// Qt's code still runs after the handler returns; such objects go to the
// socket graveyard, which deletes them from the event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace corvane::engine {

enum class EntryFrom : uint8_t {
    Host,        // a call through the C interface; the host's code is below
    EventLoop,   // a signal, timer or notifier; Qt's code is below
};

class EntryGuard {
public:
    explicit EntryGuard(EntryFrom from = EntryFrom::EventLoop);
    // The outermost one frees what was retired meanwhile.
    ~EntryGuard();
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;

private:
    EntryFrom from_;
};

// Runs `release` now when no engine code is on the stack, else when the
// outermost EntryGuard leaves (in the order retired).
void deferDelete(std::function<void()> release);

template <class T>
void deferDelete(std::unique_ptr<T> object)
{
    if (object)
        deferDelete([raw = object.release()] { delete raw; });
}

// Some engine code is on the stack.
bool insideEngine();
// An entry from the event loop is on the stack: Qt's signal code runs below.
bool insideEventLoopEntry();

} // namespace corvane::engine
