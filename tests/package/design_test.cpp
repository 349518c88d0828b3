// Design time: registration on the palette, the About entry and its editor,
// the editor lookup, and forms saved and opened the way the designer does.
#include "package/design/about_property.h"
#include "package/design/design_registry.h"
#include "package/design/form_events.h"
#include "package/design/form_loader.h"
#include "package/registration.h"
#include "package_fixture.h"
#include "toolkit/form_stream.h"

#include <QMetaProperty>
#include <QRegularExpression>

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

// A program's form class: its handlers are member functions, registered by name.
class TFormEcho : public QObject {
    Q_OBJECT

public:
    QStringList seen;
    void ServerConnected(QObject* sender, TwskWebSocketServerConnectedEventParams& p)
    {
        seen << QStringLiteral("%1 connected %2").arg(sender->objectName()).arg(p.ConnectionId);
    }
    void ClientError(QObject* sender, TwskWebSocketClientErrorEventParams& p)
    {
        seen << QStringLiteral("%1 error %2").arg(sender->objectName()).arg(p.ErrorCode);
    }
};

int creates(const QStringList& calls)
{
    int n = 0;
    for (const QString& c : calls) n += c.contains(QStringLiteral(" Create ")) ? 1 : 0;
    return n;
}

TEST_F(Design, HandlerNamesTravelWithTheFormAndBindThroughTheFormClassRegistry)
{
    // Every class on one form, handlers set on three of them; events left alone are not written.
    QObject designed;
    QList<const toolkit::TComponent*> all;
    for (const QMetaObject* meta : design::PaletteClasses(CorvaneWS::kPalettePage)) {
        auto* c = design::CreateComponent(meta, &designed, true);
        c->setName(design::ClassName(meta).mid(4) + u'1');
        all << c;
    }
    ASSERT_EQ(all.size(), 4);
    auto* server = const_cast<toolkit::TComponent*>(all[3]);
    auto* client = const_cast<toolkit::TComponent*>(all[1]);
    design::SetEventHandlerName(server, QStringLiteral("OnConnected"), QStringLiteral("ServerConnected"));
    design::SetEventHandlerName(server, QStringLiteral("OnDataIn"), QStringLiteral("ServerDataIn"));
    design::SetEventHandlerName(client, QStringLiteral("OnError"), QStringLiteral("ClientError"));
    design::SetEventHandlerName(client, QStringLiteral("OnLog"), QStringLiteral("Dropped"));
    design::SetEventHandlerName(client, QStringLiteral("OnLog"), QString());  // cleared again
    static_cast<TwskWebSocketServer*>(server)->FSetLocalPort(9001);
    EXPECT_THROW(design::SetEventHandlerName(server, QStringLiteral("OnTeleport"), QStringLiteral("X")), toolkit::EConvertError);
    EXPECT_THROW(design::SetEventHandlerName(server, QStringLiteral("OnLog"), QStringLiteral("not a name")), toolkit::EConvertError);

    const QString text = design::WriteForm(all);
    EXPECT_EQ(text, QStringLiteral("object CertMgr1: TwskCertMgr\nend\n"
                                   "object WebSocketClient1: TwskWebSocketClient\n  OnError = ClientError\nend\n"
                                   "object WebSocketProxy1: TwskWebSocketProxy\nend\n"
                                   "object WebSocketServer1: TwskWebSocketServer\n  LocalPort = 9001\n"
                                   "  OnConnected = ServerConnected\n  OnDataIn = ServerDataIn\nend\n"));

    // The designer reads the names back and writes the same form.
    QObject reopened;
    const design::LoadedForm loaded = design::LoadForm(text, &reopened);
    EXPECT_TRUE(loaded.problems.isEmpty()) << loaded.problems.join(u'\n').toStdString();
    QList<const toolkit::TComponent*> back(loaded.components.begin(), loaded.components.end());
    EXPECT_EQ(design::WriteForm(back), text);

    // A program binds the names to what its form class offers; an engine event reaches them.
    design::TFormHandlers& handlers = design::FormHandlers(QStringLiteral("TFormEcho"));
    handlers.clear();
    handlers.add(QStringLiteral("ServerConnected"), &TFormEcho::ServerConnected);
    handlers.add(QStringLiteral("ClientError"), &TFormEcho::ClientError);
    int dataIn = 0;
    handlers.add(QStringLiteral("ServerDataIn"), [&dataIn](QObject*, TwskWebSocketServerDataInEventParams& p) { dataIn += p.ConnectionId; });
    TFormEcho form;
    form.setObjectName(QStringLiteral("Echo"));
    auto fake = pkgtest::fakeEngine();
    const QList<toolkit::TComponent*> made = design::ReadForm(text, &form, handlers);
    ASSERT_EQ(made.size(), 4);
    auto* readServer = static_cast<TwskWebSocketServer*>(made[3]);
    EXPECT_EQ(readServer->FLocalPort(), 9001);
    void* argv[5] = {reinterpret_cast<void*>(7), reinterpret_cast<void*>(1), const_cast<char*>("x"), nullptr, nullptr};
    int arglen[5] = {0, 0, 1, 0, 0};
    EXPECT_EQ(fake->raise(readServer->engineObject().handle(), 1, 1, argv, arglen), 0);
    EXPECT_EQ(fake->raise(readServer->engineObject().handle(), 3, 4, argv, arglen), 0);
    const std::u16string why = u"lost";
    void* eargv[3] = {reinterpret_cast<void*>(11), const_cast<char16_t*>(why.c_str()), nullptr};
    int earglen[3] = {};
    EXPECT_EQ(fake->raise(static_cast<TwskWebSocketClient*>(made[1])->engineObject().handle(), 5, 2, eargv, earglen), 0);
    EXPECT_EQ(form.seen, (QStringList{"WebSocketServer1 connected 7", "WebSocketClient1 error 11"}));
    EXPECT_EQ(dataIn, 7);
    // The same form read by the form's class through the program's registry.
    EXPECT_EQ(design::ReadForm(text, &form).size(), 4);
    handlers.clear();
}

TEST_F(Design, AFormIsReadWithOneEngineObjectPerComponentOrRefusedWhole)
{
    design::TFormHandlers handlers;
    handlers.add(QStringLiteral("ServerConnected"), &TFormEcho::ServerConnected);
    handlers.add(QStringLiteral("Wrong"), [](QObject*, TwskWebSocketClientErrorEventParams&) {});
    const QString good = QStringLiteral("object S1: TwskWebSocketServer\n  LocalPort = 1\n  OnConnected = ServerConnected\nend\n"
                                        "object C1: TwskCertMgr\n  CertSubject = 'CN=a'\n  CertSubject = 'CN=b'\n"
                                        "  CertStore = 'B'\n  CertStoreType = 6\nend\n");
    struct Case {
        const char* tail;      // appended to the good form
        const char* error;     // empty: reads
        int objectsMade;       // engine objects created while reading, not counting a refused form's
    };
    const Case cases[] = {
        {"", "", 2},
        {"object P1: TwskWebSocketProxy\n  OnDataIn = Missing\nend\n",
         "Form line 12: handler Missing for P1.OnDataIn is not provided by TFormEcho", 0},
        {"object P1: TwskWebSocketProxy\n  OnConnected = Wrong\nend\n",
         "Form line 12: handler Wrong does not take the parameters of P1.OnConnected", 3},
        {"object P1: TwskWebSocketProxy\n  OnTeleport = Wrong\nend\n", "Form line 12: property OnTeleport does not exist", 0},
        {"object P1: TwskWebSocketProxy\n  FirewallType = fwCarrierPigeon\nend\n",
         "Form line 12: Invalid property value fwCarrierPigeon for FirewallType", 0},
        {"object S1: TwskWebSocketProxy\nend\n", "Form line 11: a component named S1 is already on the form", 0},
        {"object P1: TwskTeleporter\nend\n", "Form line 11: Class TwskTeleporter not found", 0},
    };
    auto fake = pkgtest::fakeEngine();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        TFormEcho form;
        fake->clear();
        const int live = fake->liveObjects();
        try {
            const QList<toolkit::TComponent*> made = design::ReadForm(good + QString::fromLatin1(c.tail), &form, handlers);
            EXPECT_STREQ(c.error, "");
            EXPECT_EQ(made.size(), 2);
            // The certificate manager took its subject once, after its store.
            const QStringList calls = fake->calls();
            EXPECT_EQ(calls.filter(QStringLiteral("Set 10016")).size(), 2);  // Init's, then the form's
            EXPECT_LT(calls.lastIndexOf(QRegularExpression(QStringLiteral("^Set 28 "))), calls.lastIndexOf(QStringLiteral("Set 10016 0 \"CN=b\"")));
        } catch (const toolkit::EConvertError& e) {
            EXPECT_EQ(e.message(), QString::fromLatin1(c.error));
            EXPECT_TRUE(form.children().isEmpty());
            EXPECT_EQ(fake->liveObjects(), live);
        }
        EXPECT_EQ(creates(fake->calls()), c.objectsMade);

        // The designer makes the same objects once each, whatever lines it drops.
        QObject designed;
        fake->clear();
        const design::LoadedForm loaded = design::LoadForm(good + QString::fromLatin1(c.tail), &designed);
        EXPECT_EQ(creates(fake->calls()), loaded.components.size());
    }
}

}  // namespace

#include "design_test.moc"
