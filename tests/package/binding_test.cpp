// Where the package's engine comes from: libcorvanews20.so by name, per
// component class, loaded once per class and never again; a missing library
// told to the user and refused with EOutOfMemory; a refused create named
// after the class.
#include "package_fixture.h"
#include "toolkit/exceptions.h"
#include "toolkit/scripted_user_interaction.h"

using namespace CorvaneWS::Package;
using CorvaneWS::Package::packageLibrary;

namespace {

class PackageBinding : public ::testing::Test {
protected:
    void SetUp() override { pkgtest::pointBindingsAtFake(); }
    void TearDown() override { pkgtest::pointBindingsAtFake(); }
};

template <class C>
QString creationError()
{
    try {
        C component;
    } catch (const toolkit::EOutOfMemory& e) {
        return e.message();
    }
    return QStringLiteral("created");
}

TEST_F(PackageBinding, EachClassLoadsOnceAndKeepsItsOwnBinding)
{
    pkgtest::unload("WebSocketServer");
    pkgtest::unload("WebSocketProxy");
    {
        TwskWebSocketServer first;
        TwskWebSocketServer second;
    }
    TwskWebSocketServer third;
    EXPECT_EQ(packageLibrary("WebSocketServer").loadCount(), 1u);
    EXPECT_EQ(packageLibrary("WebSocketServer").source(), CorvaneWS::EngineSource::File);
    EXPECT_EQ(packageLibrary("WebSocketProxy").loadCount(), 0u);  // nothing shared with the server's
    TwskWebSocketProxy proxy;
    EXPECT_EQ(packageLibrary("WebSocketProxy").loadCount(), 1u);
    EXPECT_EQ(packageLibrary("WebSocketServer").loadCount(), 1u);
}

TEST_F(PackageBinding, MissingLibraryIsToldOncePerAttemptThenRefused)
{
    toolkit::ScriptedUserInteraction ui;
    pkgtest::unload("WebSocketProxy");
    packageLibrary("WebSocketProxy").setLibraryName(QStringLiteral("/nonexistent/libcorvanews20.so"));
    EXPECT_EQ(creationError<TwskWebSocketProxy>(), QStringLiteral("Could not load component library (libcorvanews20.so)."));
    EXPECT_EQ(creationError<TwskWebSocketProxy>(), QStringLiteral("Could not load component library (libcorvanews20.so)."));
    const auto asked = ui.requestsOf(toolkit::ScriptedUserInteraction::Kind::Confirm);
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].text, QStringLiteral("libcorvanews20.so could not be loaded.  libcorvanews20.so is required."));
    EXPECT_EQ(asked[0].caption, QStringLiteral("Corvane WebSocket Server 2020"));
    // Once the library is there, the same class loads it.
    pkgtest::pointBindingsAtFake();
    EXPECT_EQ(creationError<TwskWebSocketProxy>(), QStringLiteral("created"));
    EXPECT_EQ(ui.requestsOf(toolkit::ScriptedUserInteraction::Kind::Confirm).size(), 2);
}

TEST_F(PackageBinding, RefusedCreateNamesTheClass)
{
    { TwskWebSocketServer warm; }
    auto fake = pkgtest::fakeEngine();
    fake->failCreates(1);
    EXPECT_EQ(creationError<TwskWebSocketServer>(), QStringLiteral("Error initializing TwskWebSocketServer."));
    fake->failCreates(1);
    EXPECT_EQ(creationError<TwskWebSocketProxy>(), QStringLiteral("Error initializing TwskWebSocketProxy."));
    fake->failCreates(1);
    EXPECT_EQ(creationError<TwskWebSocketClient>(), QStringLiteral("Error initializing TwskWebSocketClient."));
    fake->failCreates(1);
    EXPECT_EQ(creationError<TwskCertMgr>(), QStringLiteral("Error initializing TwskCertMgr."));
    fake->clear();
}

TEST_F(PackageBinding, AFailingInitReleasesTheEngineObject)
{
    { TwskWebSocketServer warm; }
    auto fake = pkgtest::fakeEngine();
    const int live = fake->liveObjects();
    fake->failNext("Set", 22, 9, "port refused");
    EXPECT_THROW(TwskWebSocketServer server, CorvaneWS::EWSKCore);
    EXPECT_EQ(fake->liveObjects(), live);
    fake->clear();
}

}  // namespace
