#include "engine/objects/websocket_server.h"

#include "engine/objects/event_args.h"

#include <algorithm>

namespace corvane::engine {

using protocol::Opcode;
namespace P = server_prop;
namespace E = server_event;
namespace M = server_method;

namespace {

const std::vector<ConfigDef>& configRows()
{
    static const std::vector<ConfigDef> rows = [] {
        std::vector<ConfigDef> all = {CORVANE_COMMON_CONFIG};
        all.insert(all.end(), servingConfig().begin(), servingConfig().end());
        return all;
    }();
    return rows;
}

} // namespace

std::span<const PropertyDef> serverProperties()
{
    static const std::vector<PropertyDef> defs =
        buildPropertyDefs(corvanews20::server::kTables, serverPropertyLimits());
    return defs;
}
std::span<const ConfigDef> serverConfig() { return configRows(); }

WebSocketServer::WebSocketServer(CorvaneWS_EventSink sink, void* user)
    : ServerObject(sink, user, corvanews20::server::kTables, serverProperties(), serverConfig())
{
}

int WebSocketServer::dataFormat(int id) const
{
    const auto it = dataFormats_.find(id);
    return it == dataFormats_.end() ? 0 : it->second;
}

// ---- properties ----

bool WebSocketServer::readProperty(const PropertyDef& def, int index, Value& out)
{
    if (def.id == P::WebSocketConnectionDataFormat) {
        out.i = dataFormat(index);
        return true;
    }
    return ServerObject::readProperty(def, index, out);
}

int WebSocketServer::writeProperty(const PropertyDef& def, int index, Value& in)
{
    switch (def.id) {
    case P::WebSocketConnectionDataFormat:
        dataFormats_[index] = int(in.i);
        return 0;
    case P::WebSocketConnectionDataToSend: {
        const int format = dataFormat(index);
        const bool text = format == 1 || (format == 0 && in.form == 2);
        return sendTo(index, text ? Opcode::Text : Opcode::Binary,
                      reinterpret_cast<const uint8_t*>(in.bytes.constData()), size_t(in.bytes.size()));
    }
    default:
        return ServerObject::writeProperty(def, index, in);
    }
}

// ---- connection events ----

void WebSocketServer::serverOpenRequest(int id, OpenRequest& open)
{
    if (!hasSink())
        return;
    OpenRequestArgs args(id, open);
    void* argv[OpenRequestArgs::kCount + 1] = {};
    int arglen[OpenRequestArgs::kCount + 1] = {};
    args.fill(argv);
    raise(E::WebSocketOpenRequest, OpenRequestArgs::kCount, argv, arglen);
    args.readBack(argv, open);
}

void WebSocketServer::serverOpened(int id)
{
    raiseConnectionOpened(E::Connected, id);
}

void WebSocketServer::serverData(int id, Opcode type, const uint8_t* data, size_t n, bool last)
{
    if (!hasSink())
        return;
    void* argv[5] = {iv(id), iv(type == Opcode::Text ? 1 : 2), const_cast<uint8_t*>(data), iv(last), nullptr};
    int arglen[5] = {0, 0, int(n), 0, 0};
    raise(E::DataIn, 4, argv, arglen);
}

void WebSocketServer::serverReadyToSend(int id)
{
    if (!hasSink())
        return;
    void* argv[2] = {iv(id), nullptr};
    int arglen[2] = {};
    raise(E::ReadyToSend, 1, argv, arglen);
}

void WebSocketServer::serverClosed(int id, int statusCode, const QString& reason)
{
    dataFormats_.erase(id);
    raiseConnectionStatus(E::Disconnected, id, statusCode, reason);
}

// ---- methods ----

int WebSocketServer::sendTo(int id, Opcode op, const uint8_t* data, size_t n)
{
    WsConnection* ws = core().connection(id);
    if (ws == nullptr)
        return core().peer(id) ? fail(kNotConnected) : fail(kInvalidIndex, corvanews20::server::kIndexName);
    const int rc = ws->sendMessage(op, data, n);
    if (rc == kSendQueueFull)
        return fail(rc, std::to_string(ws->queuedBytes()) + " bytes queued");
    return rc == 0 ? 0 : fail(rc);
}

int WebSocketServer::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    auto wide = [&](int k) { return k < argc ? wideArg(argv[k], arglen ? arglen[k] : 0) : QString(); };
    const int id = argc > 0 ? int(reinterpret_cast<intptr_t>(argv[0])) : -1;
    WsConnection* ws = core().connection(id);
    switch (method) {
    case M::Config: return configMethod(argc, argv, arglen);
    case M::Disconnect: return disconnect(argc, argv);
    case M::DoEvents: doEvents(); return 0;
    case M::Interrupt:
        if (ws != nullptr)
            ws->cancelFile();
        else if (core().peer(id) == nullptr)
            return fail(kInvalidIndex, corvanews20::server::kIndexName);
        return 0;
    case M::Send:
        if (argc < 2)
            return fail(kInvalidArgument, "Send needs the connection id and the data");
        return sendTo(id, dataFormat(id) == 1 ? Opcode::Text : Opcode::Binary, static_cast<const uint8_t*>(argv[1]),
                      argv[1] && arglen ? size_t(std::max(arglen[1], 0)) : 0);
    case M::SendFile: {
        const QString name = wide(1);
        if (ws == nullptr)
            return core().peer(id) ? fail(kNotConnected, name.toStdString())
                                   : fail(kInvalidIndex, corvanews20::server::kIndexName);
        const int rc = ws->sendFile(name, dataFormat(id) == 1 ? Opcode::Text : Opcode::Binary);
        return rc == 0 ? 0 : fail(rc, name.toStdString());
    }
    case M::SendText: {
        const QByteArray utf8 = wide(1).toUtf8();
        return sendTo(id, dataFormat(id) == 2 ? Opcode::Binary : Opcode::Text,
                      reinterpret_cast<const uint8_t*>(utf8.constData()), size_t(utf8.size()));
    }
    case M::Shutdown: core().shutdown(); return 0;
    default:
        return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
}

} // namespace corvane::engine
