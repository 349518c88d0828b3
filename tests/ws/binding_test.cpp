// Where the engine comes from: the embedded image mapped from memory, the
// library file by name when mapping is not possible, and the user told when
// neither works.
#include "fake_engine_control.h"
#include "toolkit/scripted_user_interaction.h"
#include "ws/wskwebsocketclient.h"

#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>

using CorvaneWS::EngineLibrary;
using CorvaneWS::EngineSource;
using CorvaneWS::TwskWebSocketClient;

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override { wstest::resetBindingToFake(); }
    void TearDown() override { wstest::resetBindingToFake(); }
    EngineLibrary& lib = EngineLibrary::embedded();
};

TEST_F(Binding, ImageIsMappedOnceAndSharedByLaterComponents)
{
    const unsigned maps = lib.mapCount();
    TwskWebSocketClient first;
    EXPECT_EQ(lib.source(), EngineSource::Memory);
    EXPECT_EQ(lib.mapCount(), maps + 1);
    EXPECT_EQ(lib.loadCount(), 1u);
    {
        TwskWebSocketClient second;
        TwskWebSocketClient third;
    }
    EXPECT_EQ(lib.mapCount(), maps + 1);
    EXPECT_EQ(lib.loadCount(), 1u);
    wstest::FakeEngine fake;
    EXPECT_EQ(fake.liveObjects(), 1);

    // The engine really runs from the anonymous memory file, not from disk.
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(lib.moduleHandle(), "CorvaneWS_WebSocketClient_Create"), &info), 0);
    EXPECT_TRUE(std::string(info.dli_fname).starts_with("/proc/self/fd/")) << info.dli_fname;
}

TEST_F(Binding, EveryNameIsResolvedInTheTable)
{
    const unsigned maps = lib.mapCount();
    const auto& t = lib.bind("WebSocketClient");
    const void* all[] = {(void*)t.EvtStr, (void*)t.Stream, (void*)t.Create, (void*)t.Destroy, (void*)t.CheckIndex,
                         (void*)t.Get, (void*)t.Set, (void*)t.Do, (void*)t.GetLastError, (void*)t.GetLastErrorCode,
                         (void*)t.SetLastErrorAndCode, (void*)t.GetEventError, (void*)t.GetEventErrorCode,
                         (void*)t.SetEventErrorAndCode};
    for (const void* p : all) EXPECT_NE(p, nullptr);
    // An object name the engine does not have leaves its table empty but
    // counts as a second load of the same module.
    const auto& server = lib.bind("NoSuchObject");
    EXPECT_EQ(server.Create, nullptr);
    EXPECT_NE(server.EvtStr, nullptr);
    EXPECT_EQ(lib.loadCount(), 2u);
    EXPECT_EQ(lib.mapCount(), maps + 1);
}

TEST_F(Binding, ReleaseUnloadsAtZeroAndTheNextCreationMapsAgain)
{
    { TwskWebSocketClient c; }
    const unsigned maps = lib.mapCount();
    lib.release();
    EXPECT_EQ(lib.loadCount(), 0u);
    EXPECT_EQ(lib.moduleHandle(), nullptr);
    EXPECT_EQ(lib.source(), EngineSource::None);
    TwskWebSocketClient again;
    EXPECT_EQ(lib.source(), EngineSource::Memory);
    EXPECT_EQ(lib.mapCount(), maps + 1);
}

TEST(ElfImage, OnlySharedObjectsOfThisProcessKindAreMapped)
{
    const QByteArray good = wstest::fakeEngineImage();
    EXPECT_TRUE(CorvaneWS::isLoadableElfImage(good));

    EXPECT_FALSE(CorvaneWS::isLoadableElfImage(QByteArray()));
    EXPECT_FALSE(CorvaneWS::isLoadableElfImage(good.left(10)));
    EXPECT_FALSE(CorvaneWS::isLoadableElfImage(QByteArray("MZ\x90\x00", 4) + good.mid(4)));

    QByteArray wrongClass = good;
    wrongClass[EI_CLASS] = char(ELFCLASS32);
    EXPECT_FALSE(CorvaneWS::isLoadableElfImage(wrongClass));

    QByteArray executable = good;
    const std::uint16_t type = ET_EXEC;
    std::memcpy(executable.data() + offsetof(Elf64_Ehdr, e_type), &type, sizeof type);
    EXPECT_FALSE(CorvaneWS::isLoadableElfImage(executable));
}

TEST_F(Binding, BadImageFallsBackToTheLibraryFile)
{
    lib.setImageOverride(QByteArray("MZ not an engine at all"));
    lib.setLibraryName(wstest::fakeEnginePath());
    const unsigned maps = lib.mapCount();
    TwskWebSocketClient c;
    EXPECT_EQ(lib.source(), EngineSource::File);
    EXPECT_EQ(lib.mapCount(), maps);
}

TEST_F(Binding, ImageThatTheLoaderRejectsFallsBackToTheLibraryFile)
{
    // Right signature, nonsense after it: memfd works, dlopen refuses.
    QByteArray broken = wstest::fakeEngineImage().left(sizeof(Elf64_Ehdr) + 64);
    lib.setImageOverride(broken);
    lib.setLibraryName(wstest::fakeEnginePath());
    TwskWebSocketClient c;
    EXPECT_EQ(lib.source(), EngineSource::File);
}

TEST_F(Binding, NothingToLoadTellsTheUserOnEveryAttemptAndRaises)
{
    toolkit::ScriptedUserInteraction ui;
    lib.setImageOverride(QByteArray());  // no embedded image
    lib.setLibraryName(QStringLiteral("/nonexistent/libcorvanews20.so"));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        try {
            TwskWebSocketClient c;
            FAIL() << "construction succeeded without an engine";
        } catch (const toolkit::EOutOfMemory& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Could not load component library (libcorvanews20.so)."));
        }
        const auto shown = ui.requestsOf(toolkit::ScriptedUserInteraction::Kind::Confirm);
        ASSERT_EQ(shown.size(), attempt);
        EXPECT_EQ(shown.last().text,
                  QStringLiteral("libcorvanews20.so could not be loaded.  libcorvanews20.so is required."));
        EXPECT_EQ(shown.last().caption, QStringLiteral("Corvane WebSocket Server 2020"));
    }
    EXPECT_EQ(lib.loadCount(), 0u);
}

TEST_F(Binding, EngineRefusingToCreateRaisesTheInitialisationError)
{
    { TwskWebSocketClient warmUp; }
    wstest::FakeEngine fake;
    fake.failCreates(1);
    try {
        TwskWebSocketClient c;
        FAIL() << "construction succeeded with a null engine handle";
    } catch (const toolkit::EOutOfMemory& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Error initializing TwskWebSocketClient."));
    }
    TwskWebSocketClient fine;  // the failure was the engine object's, not the binding's
    EXPECT_EQ(fake.liveObjects(), 1);
}

TEST_F(Binding, FailureDuringConstructionReleasesTheEngineObject)
{
    { TwskWebSocketClient warmUp; }
    wstest::FakeEngine fake;
    fake.failNext("Set", 46, 11, "Timeout");
    EXPECT_THROW(TwskWebSocketClient c, CorvaneWS::EWSKCore);
    EXPECT_EQ(fake.liveObjects(), 0);
}

}  // namespace
