#pragma once
// Steers the fake engine that the component's binding mapped. Its FakeEngine_
// functions are looked up in the very module the binding opened, so the test
// sees the same state as the component.

#include "ws/engine_binding.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace wstest {

inline QString fakeEnginePath() { return QStringLiteral(WS_FAKE_ENGINE_PATH); }

inline QByteArray fakeEngineImage()
{
    QFile file(fakeEnginePath());
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("fake engine not built");
    return file.readAll();
}

// Leaves the embedded binding unloaded and pointed at the fake engine's image.
inline void resetBindingToFake()
{
    auto& lib = CorvaneWS::EngineLibrary::embedded();
    while (lib.loadCount() > 0) lib.release();
    lib.setImageOverride(fakeEngineImage());
    lib.setLibraryName(QStringLiteral("libcorvanews20.so"));
}

// Binds the fake engine unless it already is, so its steering is reachable
// before the first component exists.
inline void useFakeEngine()
{
    auto& lib = CorvaneWS::EngineLibrary::embedded();
    if (lib.moduleHandle() != nullptr) return;
    resetBindingToFake();
    if (lib.bind("WebSocketClient").Create == nullptr) throw std::runtime_error("fake engine did not load");
}

class FakeEngine {
public:
    FakeEngine() : FakeEngine(CorvaneWS::EngineLibrary::embedded().moduleHandle()) {}
    // The fake as another binding opened it (the package's bindings open the file by name).
    explicit FakeEngine(void* module) : module_(module)
    {
        if (module_ == nullptr) throw std::runtime_error("engine not bound");
    }

    void clear() { fn<void (*)()>("FakeEngine_Clear")(); }
    QStringList calls() const
    {
        QStringList out;
        const int n = fn<int (*)()>("FakeEngine_CallCount")();
        for (int i = 0; i < n; ++i) out << QString::fromUtf8(fn<const char* (*)(int)>("FakeEngine_Call")(i));
        return out;
    }
    int liveObjects() const { return fn<int (*)()>("FakeEngine_LiveObjects")(); }
    void failNext(const char* function, int number, int code, const char* text)
    {
        fn<void (*)(const char*, int, int, const char*)>("FakeEngine_FailNext")(function, number, code, text);
    }
    void failCreates(int count) { fn<void (*)(int)>("FakeEngine_FailCreates")(count); }
    void setIndexCount(int id, int count, int code) { fn<void (*)(int, int, int)>("FakeEngine_SetIndexCount")(id, count, code); }
    void setEventErrorResult(int result) { fn<void (*)(int)>("FakeEngine_SetEventErrorResult")(result); }
    void setConfigAnswer(const char* text) { fn<void (*)(const char*)>("FakeEngine_SetConfigAnswer")(text); }
    void putInt(void* h, int id, int index, long long v) { fn<void (*)(void*, int, int, long long)>("FakeEngine_PutInt")(h, id, index, v); }
    void putText(void* h, int id, int index, const char* t) { fn<void (*)(void*, int, int, const char*)>("FakeEngine_PutText")(h, id, index, t); }
    void putBytes(void* h, int id, int index, const QByteArray& b)
    {
        fn<void (*)(void*, int, int, const void*, int)>("FakeEngine_PutBytes")(h, id, index, b.constData(), int(b.size()));
    }
    void* newEventString(const char* text) { return fn<void* (*)(const char*)>("FakeEngine_NewEventString")(text); }
    QString eventStringText(void* value)
    {
        return QString::fromUtf8(fn<const char* (*)(void*)>("FakeEngine_EventStringText")(value));
    }
    int raise(void* h, int event, int argc, void** argv, int* arglen)
    {
        return fn<int (*)(void*, int, int, void**, int*)>("FakeEngine_Raise")(h, event, argc, argv, arglen);
    }

private:
    template <class F>
    F fn(const char* name) const
    {
        auto f = reinterpret_cast<F>(dlsym(module_, name));
        if (f == nullptr) throw std::runtime_error(std::string("missing ") + name);
        return f;
    }
    void* module_;
};

}  // namespace wstest
