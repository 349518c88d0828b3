// Connections that ended while one of their own handlers may still be on the
// stack wait here, and are deleted from the event loop once they are off it.
#pragma once

#include "engine/objects/engine_object.h"
#include "engine/websocket/ws_connection.h"

#include <QTimer>

#include <memory>
#include <vector>

namespace corvane::engine {

class ConnectionReaper {
public:
    // Deletions run inside the owner's Entry, so an owner destroyed by a host
    // meanwhile is not deleted under them.
    explicit ConnectionReaper(EngineObject& owner);
    // What is left is detached; those still on the stack go from the event loop.
    ~ConnectionReaper();
    ConnectionReaper(const ConnectionReaper&) = delete;
    ConnectionReaper& operator=(const ConnectionReaper&) = delete;

    void retire(std::unique_ptr<WsConnection> ws);
    // The owner's timers may hang on it: they go with the owner.
    QObject* context() { return &timer_; }

private:
    void reap();

    EngineObject& owner_;
    std::vector<std::unique_ptr<WsConnection>> retired_;
    QTimer timer_;
};

} // namespace corvane::engine
