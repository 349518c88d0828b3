#pragma once
// The package's components over the fake engine: every class's binding opens
// the fake library file by name instead of libcorvanews20.so.

#include "fake_engine_control.h"
#include "package/package_binding.h"
#include "package/package_components.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>

namespace pkgtest {

inline const char* const kObjects[] = {"WebSocketClient", "WebSocketServer", "WebSocketProxy", "CertMgr"};

inline void pointBindingsAtFake()
{
    for (const char* name : kObjects)
        CorvaneWS::Package::packageLibrary(name).setLibraryName(wstest::fakeEnginePath());
}

// Leaves `name`'s binding unloaded, as before its first component.
inline void unload(const char* name)
{
    auto& lib = CorvaneWS::Package::packageLibrary(name);
    while (lib.loadCount() > 0) lib.release();
}

// The fake as the bindings open it; every class opens the same file, so
// they share one module and one record of calls. A test that asks before its
// first component is made loads it here.
inline std::unique_ptr<wstest::FakeEngine> fakeEngine()
{
    void* module = dlopen(wstest::fakeEnginePath().toLocal8Bit().constData(), RTLD_NOW);
    return std::make_unique<wstest::FakeEngine>(module);
}

// A component of C over the fake engine, with the construction calls cleared.
template <class C>
class FakeEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pointBindingsAtFake();
        component = std::make_unique<C>();
        fake = fakeEngine();
        handle = component->engineObject().handle();
        fake->clear();
    }
    void TearDown() override
    {
        component.reset();
        if (fake) fake->clear();
    }
    QStringList calls() const
    {
        QStringList out = fake->calls();
        out.removeAll(QStringLiteral("GetLastError"));
        return out;
    }

    std::unique_ptr<C> component;
    std::unique_ptr<wstest::FakeEngine> fake;
    void* handle = nullptr;
};

}  // namespace pkgtest
