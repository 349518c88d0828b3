// Design time: registration on the palette, the About entry and its editor,
// the editor lookup, and forms saved and opened the way the designer does.
#include "package/design/about_property.h"
#include "package/design/design_registry.h"
#include "package/design/form_loader.h"
#include "package/registration.h"
#include "package_fixture.h"
#include "toolkit/form_stream.h"

#include <QMetaProperty>

#include <memory>

using namespace CorvaneWS::Package;
using CorvaneWS::TAboutProperty;

namespace {

class Design : public ::testing::Test {
protected:
    void SetUp() override
    {
        pkgtest::pointBindingsAtFake();
        design::ClearRegistry();
        CorvaneWS::Corvanews::Register();
    }
    void TearDown() override { design::ClearRegistry(); }

    std::unique_ptr<design::TPropertyEditor> editorOf(QObject* component, const char* name)
    {
        const QMetaObject* meta = component->metaObject();
        return design::EditorFor({component}, meta->property(meta->indexOfProperty(name)));
    }
};

QStringList classNames(const QList<const QMetaObject*>& classes)
{
    QStringList out;
    for (const QMetaObject* m : classes) out << design::ClassName(m);
    return out;
}

TEST_F(Design, PackageRegistersItsFourClassesOnOnePageInOrder)
{
    EXPECT_EQ(design::PalettePages(), QStringList{QStringLiteral("Corvane WebSocket Server")});
    const QStringList expected = {"TwskCertMgr", "TwskWebSocketClient", "TwskWebSocketProxy", "TwskWebSocketServer"};
    EXPECT_EQ(classNames(design::PaletteClasses(QStringLiteral("Corvane WebSocket Server"))), expected);
    // A unit's own Register puts its class there too, once.
    CorvaneWS::Wskwebsocketserver::Register();
    EXPECT_EQ(classNames(design::PaletteClasses(QStringLiteral("Corvane WebSocket Server"))).count("TwskWebSocketServer"), 1);
}

TEST_F(Design, AboutEntryShowsTheBuildAndOpensTheEnginesAboutBox)
{
    std::unique_ptr<toolkit::TComponent> server(design::CreateComponent(&TwskWebSocketServer::staticMetaObject, nullptr, true));
    auto editor = editorOf(server.get(), "About");
    auto* about = dynamic_cast<TAboutProperty*>(editor.get());
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->GetAttributes(), design::paDialog | design::paReadOnly);
    EXPECT_TRUE(about->AllEqual());
    EXPECT_EQ(about->GetValue(), QStringLiteral("(Corvane WebSocket Server 2020 [Build 7239])"));
    EXPECT_EQ(about->objectValue(), server.get());

    auto fake = pkgtest::fakeEngine();
    fake->clear();
    about->Edit();
    EXPECT_EQ(fake->calls(), QStringList{QStringLiteral("Do 255 0 argv=null")});

    // Text that is not an integer is ignored; so is a number naming no component.
    about->SetValue(QStringLiteral("abc"));
    about->SetValue(QStringLiteral("12345"));
    EXPECT_EQ(about->objectValue(), server.get());
}

TEST_F(Design, AboutIsNullAtRunTimeAndEditDoesNothingThen)
{
    TwskWebSocketProxy proxy;
    auto editor = editorOf(&proxy, "About");
    EXPECT_EQ(editor->GetValue(), QStringLiteral("(Corvane WebSocket Server 2020 [Build 7239])"));
    auto fake = pkgtest::fakeEngine();
    fake->clear();
    editor->Edit();
    EXPECT_TRUE(fake->calls().isEmpty());
}

TEST_F(Design, EditorsByTypeClassAndNameMostSpecificWins)
{
    TwskWebSocketServer server;
    EXPECT_NE(dynamic_cast<design::TIntegerProperty*>(editorOf(&server, "LocalPort").get()), nullptr);
    EXPECT_NE(dynamic_cast<design::TBoolProperty*>(editorOf(&server, "SSLAuthenticateClients").get()), nullptr);
    TwskWebSocketProxy proxy;
    auto firewall = editorOf(&proxy, "FirewallType");
    EXPECT_EQ(firewall->GetValues(), (QStringList{"fwNone", "fwTunnel", "fwSOCKS4", "fwSOCKS5"}));
    firewall->SetValue(QStringLiteral("fwSOCKS4"));
    EXPECT_EQ(proxy.FFirewallType(), fwSOCKS4);
    EXPECT_THROW(firewall->SetValue(QStringLiteral("fwCarrierPigeon")), toolkit::EConvertError);

    struct Marker : design::TStringProperty {
        using TStringProperty::TStringProperty;
    };
    struct ClassMarker : design::TStringProperty {
        using TStringProperty::TStringProperty;
    };
    design::RegisterPropertyEditor("int", nullptr, QStringLiteral("LocalPort"), design::editorFactory<Marker>());
    design::RegisterPropertyEditor("int", &TwskWebSocketServer::staticMetaObject, QStringLiteral("LocalPort"),
                                   design::editorFactory<ClassMarker>());
    EXPECT_NE(dynamic_cast<ClassMarker*>(editorOf(&server, "LocalPort").get()), nullptr);
    EXPECT_NE(dynamic_cast<Marker*>(editorOf(&proxy, "LocalPort").get()), nullptr);
    EXPECT_NE(dynamic_cast<design::TIntegerProperty*>(editorOf(&proxy, "DefaultForwardPort").get()), nullptr);
}

TEST_F(Design, SavedFormHoldsOnlyChangedStoredValuesAndReadsBackEqual)
{
    QObject form;
    auto* server = design::CreateComponent(&TwskWebSocketServer::staticMetaObject, &form, true);
    server->setName(QStringLiteral("WebSocketServer1"));
    auto* proxy = design::CreateComponent(&TwskWebSocketProxy::staticMetaObject, &form, true);
    proxy->setName(QStringLiteral("WebSocketProxy1"));
    auto& s = static_cast<TwskWebSocketServer&>(*server);
    auto& p = static_cast<TwskWebSocketProxy&>(*proxy);
    s.FSetLocalPort(8443);
    s.FSetSSLCertSubject(QStringLiteral("CN=it's me"));
    s.FSetLocalHost(QStringLiteral("127.0.0.1"));  // published, never stored
    p.FSetDefaultForwardHost(QStringLiteral("backend"));
    p.FSetFirewallType(fwSOCKS5);
    p.FSetListening(false);  // run time only
    const QString text = toolkit::writeForm({server, proxy});
    EXPECT_EQ(text, QStringLiteral("object WebSocketServer1: TwskWebSocketServer\n"
                                   "  LocalPort = 8443\n"
                                   "  SSLCertSubject = 'CN=it''s me'\n"
                                   "end\n"
                                   "object WebSocketProxy1: TwskWebSocketProxy\n"
                                   "  DefaultForwardHost = 'backend'\n"
                                   "  FirewallType = fwSOCKS5\n"
                                   "end\n"));
    EXPECT_FALSE(text.contains(QStringLiteral("About")));

    QObject reopened;
    const design::LoadedForm loaded = design::LoadForm(text, &reopened);
    EXPECT_TRUE(loaded.problems.isEmpty()) << loaded.problems.join(u'\n').toStdString();
    ASSERT_EQ(loaded.components.size(), 2);
    EXPECT_EQ(toolkit::writeForm({loaded.components[0], loaded.components[1]}), text);
    EXPECT_EQ(static_cast<TwskWebSocketServer*>(loaded.components[0])->FLocalPort(), 8443);
}

TEST_F(Design, BadLinesAreNamedAndEverythingElseIsKept)
{
    const QString text = QStringLiteral("object WebSocketServer1: TwskWebSocketServer\n"  // 1
                                        "  LocalPort = 9000\n"                           // 2
                                        "  NoSuchProperty = 1\n"                         // 3
                                        "  SSLAuthenticateClients = maybe\n"             // 4
                                        "  DefaultTimeout = 'ten'\n"                     // 5
                                        "end\n"                                          // 6
                                        "object Mystery1: TwskTeleporter\n"              // 7
                                        "  Range = 5\n"                                  // 8
                                        "end\n"                                          // 9
                                        "object WebSocketProxy1: TwskWebSocketProxy\n"   // 10
                                        "  DefaultForwardPort = 8080\n"                  // 11
                                        "end\n");                                        // 12
    QObject form;
    const design::LoadedForm loaded = design::LoadForm(text, &form);
    ASSERT_EQ(loaded.problems.size(), 4) << loaded.problems.join(u'\n').toStdString();
    EXPECT_TRUE(loaded.problems[0].startsWith(QStringLiteral("Line 3: ")));
    EXPECT_TRUE(loaded.problems[0].contains(QStringLiteral("NoSuchProperty")));
    EXPECT_TRUE(loaded.problems[1].startsWith(QStringLiteral("Line 4: ")));
    EXPECT_TRUE(loaded.problems[2].startsWith(QStringLiteral("Line 5: ")));
    EXPECT_TRUE(loaded.problems[3].startsWith(QStringLiteral("Line 7: ")));
    EXPECT_TRUE(loaded.problems[3].contains(QStringLiteral("TwskTeleporter")));
    ASSERT_EQ(loaded.components.size(), 2);
    EXPECT_EQ(static_cast<TwskWebSocketServer*>(loaded.components[0])->FLocalPort(), 9000);
    EXPECT_EQ(static_cast<TwskWebSocketProxy*>(loaded.components[1])->FDefaultForwardPort(), 8080);
    EXPECT_EQ(loaded.components[1]->name(), QStringLiteral("WebSocketProxy1"));
}

}  // namespace
