// The WebSocket server object behind CorvaneWS_WebSocketServer_*: the engine's
// server core with the server's numbers, where every accepted connection
// belongs to the host (its data, its sends, its end).
#pragma once

#include "engine/include/corvanews20_server.h"
#include "engine/objects/server_object.h"

#include <map>

namespace corvane::engine {

namespace server_prop = corvanews20::server::prop;
namespace server_event = corvanews20::server::event;
namespace server_method = corvanews20::server::method;

std::span<const PropertyDef> serverProperties();
std::span<const ConfigDef> serverConfig();

class WebSocketServer final : public ServerObject {
public:
    WebSocketServer(CorvaneWS_EventSink sink, void* user);

protected:
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int writeProperty(const PropertyDef& def, int index, Value& in) override;
    int invoke(int method, int argc, void** argv, int* arglen) override;

private:
    int dataFormat(int id) const;
    int sendTo(int id, protocol::Opcode op, const uint8_t* data, size_t n);

    // ServerEvents
    void serverOpenRequest(int id, OpenRequest& open) override;
    void serverOpened(int id) override;
    void serverData(int id, protocol::Opcode type, const uint8_t* data, size_t n, bool last) override;
    void serverReadyToSend(int id) override;
    void serverClosed(int id, int statusCode, const QString& reason) override;

    std::map<int, int> dataFormats_;   // WebSocketConnectionDataFormat, where set
};

} // namespace corvane::engine
