// about_box_check ENGINE: a plain host (no QApplication) loads the engine
// file, creates each engine object it has and asks it for its about box
// (method 255); the engine, having no window to show, writes it to standard
// error. Exit status 0 when every object answered 0.
#include "corvanews20.h"

#include <dlfcn.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    void* engine = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (engine == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    int answered = 0;
    for (const char* object : {"WebSocketClient", "WebSocketServer", "WebSocketProxy", "CertMgr"}) {
        const std::string prefix = std::string("CorvaneWS_") + object + "_";
        auto create = reinterpret_cast<void* (*)(CorvaneWS_EventSink, void*, void*, int)>(
            dlsym(engine, (prefix + "Create").c_str()));
        auto doMethod = reinterpret_cast<int (*)(void*, int, int, void**, int*, void*)>(
            dlsym(engine, (prefix + "Do").c_str()));
        auto destroy = reinterpret_cast<int (*)(void*)>(dlsym(engine, (prefix + "Destroy").c_str()));
        if (create == nullptr || doMethod == nullptr || destroy == nullptr) continue;  // not built yet
        void* handle = create(nullptr, nullptr, nullptr, 1);
        if (handle == nullptr) return 1;
        if (doMethod(handle, 255, 0, nullptr, nullptr, nullptr) != 0) return 1;
        destroy(handle);
        ++answered;
    }
    return answered > 0 ? 0 : 1;
}
