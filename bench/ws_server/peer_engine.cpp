// The engine's WebSocket server (echo) and WebSocket proxy, driven through the
// library's C interface as any host would: dlopen, the exported functions,
// numbers from the public tables.
#include "peers.h"

#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_proxy.h"
#include "engine/include/corvanews20_server.h"

#include <QCoreApplication>

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace ws_bench {

namespace {

// The functions of one engine object, looked up by name (every object has
// the signatures of the client's).
struct Api {
    decltype(&CorvaneWS_WebSocketClient_Create) create = nullptr;
    decltype(&CorvaneWS_WebSocketClient_Get) get = nullptr;
    decltype(&CorvaneWS_WebSocketClient_Set) set = nullptr;
    decltype(&CorvaneWS_WebSocketClient_Do) call = nullptr;
    decltype(&CorvaneWS_WebSocketClient_GetLastError) lastError = nullptr;

    bool load(const std::string& object)
    {
        void* lib = dlopen(WS_ENGINE_FILE, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            return false;
        auto sym = [&](const char* op) { return dlsym(lib, ("CorvaneWS_" + object + "_" + op).c_str()); };
        create = reinterpret_cast<decltype(create)>(sym("Create"));
        get = reinterpret_cast<decltype(get)>(sym("Get"));
        set = reinterpret_cast<decltype(set)>(sym("Set"));
        call = reinterpret_cast<decltype(call)>(sym("Do"));
        lastError = reinterpret_cast<decltype(lastError)>(sym("GetLastError"));
        return create && get && set && call && lastError;
    }
};

void* value(intptr_t v) { return reinterpret_cast<void*>(v); }

int listen(const Api& api, void* h, int localHostProp, int localPortProp, int listeningProp)
{
    api.set(h, localHostProp + corvanews20::kStrOffset, 0, u"127.0.0.1", 0);
    api.set(h, localPortProp, 0, value(0), 0);
    if (api.set(h, listeningProp, 0, value(1), 0) != 0) {
        std::printf("FAIL listen: %s\n", api.lastError(h));
        return 1;
    }
    std::printf("ready %d\n", int(intptr_t(api.get(h, localPortProp, 0, nullptr, nullptr))));
    std::fflush(stdout);
    return 0;
}

Api gServerApi;
void* gServer = nullptr;
std::unordered_map<intptr_t, std::string> gPending;   // message so far, per connection

int serverSink(void*, int event, int, void** argv, int* arglen)
{
    namespace ev = corvanews20::server::event;
    if (event == ev::DataIn) {
        const intptr_t id = intptr_t(argv[0]);
        std::string& m = gPending[id];
        if (argv[3] != nullptr && m.empty()) {
            // A whole message in one piece goes back from the engine's buffer.
            void* args[3] = {value(id), argv[2], nullptr};
            int lens[3] = {0, arglen[2], 0};
            gServerApi.call(gServer, corvanews20::kMethodOffset + corvanews20::server::method::Send, 2, args, lens,
                            nullptr);
            return 0;
        }
        m.append(static_cast<const char*>(argv[2]), size_t(arglen[2]));
        if (argv[3] != nullptr) {
            void* args[3] = {value(id), m.data(), nullptr};
            int lens[3] = {0, int(m.size()), 0};
            gServerApi.call(gServer, corvanews20::kMethodOffset + corvanews20::server::method::Send, 2, args, lens,
                            nullptr);
            m.clear();
        }
    } else if (event == ev::Disconnected) {
        gPending.erase(intptr_t(argv[0]));
    }
    return 0;
}

} // namespace

int serveEngine(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!gServerApi.load("WebSocketServer")) {
        std::printf("FAIL the engine has no WebSocketServer\n");
        return 1;
    }
    gServer = gServerApi.create(&serverSink, nullptr, nullptr, 1);
    namespace p = corvanews20::server::prop;
    gServerApi.set(gServer, p::ConnectionBacklog, 0, value(1024), 0);
    if (listen(gServerApi, gServer, p::LocalHost, p::LocalPort, p::Listening) != 0)
        return 1;
    return app.exec();
}

int serveEngineProxy(int argc, char** argv, int forwardPort)
{
    QCoreApplication app(argc, argv);
    Api api;
    if (!api.load("WebSocketProxy")) {
        std::printf("FAIL the engine has no WebSocketProxy\n");
        return 1;
    }
    void* h = api.create([](void*, int, int, void**, int*) { return 0; }, nullptr, nullptr, 1);
    namespace p = corvanews20::proxy::prop;
    api.set(h, p::DefaultForwardHost + corvanews20::kStrOffset, 0, u"127.0.0.1", 0);
    api.set(h, p::DefaultForwardPort, 0, value(forwardPort), 0);
    if (listen(api, h, p::LocalHost, p::LocalPort, p::Listening) != 0)
        return 1;
    return app.exec();
}

} // namespace ws_bench
