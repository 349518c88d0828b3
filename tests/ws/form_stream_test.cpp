// Forms: only stored values that differ from a fresh component are written;
// reading applies them over the constructor's defaults.
#include "fake_engine_control.h"
#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"
#include "ws/wskwebsocketclient.h"

#include <gtest/gtest.h>

#include <memory>

using namespace CorvaneWS;

namespace {

// A plain component that notes what state it was in when its properties were set.
class Gauge : public toolkit::TComponent {
    Q_OBJECT
    Q_PROPERTY(int Level READ level WRITE setLevel STORED true)
    Q_PROPERTY(QString Caption READ caption WRITE setCaption STORED true)
    Q_PROPERTY(int Scratch READ scratch WRITE setScratch STORED false)

public:
    explicit Gauge(QObject* owner = nullptr) : TComponent(owner) {}
    int level() const { return level_; }
    void setLevel(int v)
    {
        level_ = v;
        loadingDuringSet = componentState().testFlag(csLoading);
    }
    QString caption() const { return caption_; }
    void setCaption(const QString& v) { caption_ = v; }
    int scratch() const { return scratch_; }
    void setScratch(int v) { scratch_ = v; }

    bool loadingDuringSet = false;
    int loadedCalls = 0;

protected:
    void loaded() override { ++loadedCalls; }

private:
    int level_ = 5;
    QString caption_ = QStringLiteral("Gauge");
    int scratch_ = 0;
};

class Forms : public ::testing::Test {
protected:
    void SetUp() override
    {
        wstest::useFakeEngine();
        toolkit::registerComponentClass<TwskWebSocketClient>();
        toolkit::registerComponentClass<Gauge>();
    }
};

TEST_F(Forms, FreshComponentsWriteNoValues)
{
    TwskWebSocketClient client;
    client.setName(QStringLiteral("WebSocketClient1"));
    Gauge gauge;
    gauge.setName(QStringLiteral("Gauge1"));
    EXPECT_EQ(toolkit::writeForm({&client, &gauge}),
              QStringLiteral("object WebSocketClient1: TwskWebSocketClient\nend\nobject Gauge1: Gauge\nend\n"));
}

TEST_F(Forms, TheToolsClientWritesItsNonDefaultValuesByName)
{
    TwskWebSocketClient client;
    client.setName(QStringLiteral("WebSocketClient1"));
    client.FSetAuthScheme(authNone);
    client.FSetFirewallAutoDetect(true);
    client.FSetFollowRedirects(frAlways);
    client.FSetProxyAuthScheme(authNone);
    client.FSetProxyAutoDetect(true);
    client.FSetProxySSL(psNever);
    client.FSetSSLCertStore(QStringLiteral("MY"));
    client.FSetTimeout(10);
    client.FSetLocalHost(QStringLiteral("127.0.0.1"));  // published, never stored
    client.FSetOrigin(QStringLiteral("http://x"));      // run time only
    EXPECT_EQ(toolkit::writeForm({&client}), QStringLiteral("object WebSocketClient1: TwskWebSocketClient\n"
                                                            "  AuthScheme = authNone\n"
                                                            "  FirewallAutoDetect = True\n"
                                                            "  FollowRedirects = frAlways\n"
                                                            "  ProxyAuthScheme = authNone\n"
                                                            "  ProxyAutoDetect = True\n"
                                                            "  ProxySSL = psNever\n"
                                                            "  Timeout = 10\n"
                                                            "end\n"));
}

TEST_F(Forms, StoredTimeoutOverridesTheConstructorsDefault)
{
    QObject form;
    wstest::FakeEngine fake;
    fake.clear();
    const auto made = toolkit::readForm(QStringLiteral("object WebSocketClient1: TwskWebSocketClient\n"
                                                       "  Timeout = 10\n"
                                                       "  ProxySSL = psNever\n"
                                                       "end\n"),
                                        &form);
    ASSERT_EQ(made.size(), 1);
    auto* client = qobject_cast<TwskWebSocketClient*>(made[0]);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->owner(), &form);
    EXPECT_EQ(client->name(), QStringLiteral("WebSocketClient1"));
    EXPECT_EQ(client->FTimeout(), 10);
    EXPECT_EQ(client->FProxySSL(), psNever);
    const QStringList timeoutSets = fake.calls().filter(QStringLiteral("Set 46 "));
    EXPECT_EQ(timeoutSets, (QStringList{"Set 46 0 60", "Set 46 0 10"}));
}

TEST_F(Forms, WrittenFormsReadBackToEqualComponents)
{
    Gauge gauge;
    gauge.setName(QStringLiteral("G"));
    gauge.setLevel(-3);
    gauge.setCaption(QStringLiteral("it's = 'quoted'"));
    gauge.setScratch(99);
    const QString text = toolkit::writeForm({&gauge});
    EXPECT_FALSE(text.contains(QStringLiteral("Scratch")));

    QObject form;
    const auto made = toolkit::readForm(text, &form);
    ASSERT_EQ(made.size(), 1);
    auto* copy = qobject_cast<Gauge*>(made[0]);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->level(), -3);
    EXPECT_EQ(copy->caption(), gauge.caption());
    EXPECT_EQ(copy->scratch(), 0);
    EXPECT_TRUE(copy->loadingDuringSet);
    EXPECT_EQ(copy->loadedCalls, 1);
    EXPECT_FALSE(copy->componentState().testFlag(toolkit::TComponent::csLoading));
}

TEST_F(Forms, MalformedFormsRaiseAndLeaveNothingBehind)
{
    const QStringList bad = {
        QStringLiteral("object G: Gauge\n  Level = ten\nend\n"),
        QStringLiteral("object G: Gauge\n  Nonexistent = 1\nend\n"),
        QStringLiteral("object G: Gauge\n  Caption = 'open\nend\n"),
        QStringLiteral("object G: Gauge\n  Level = 1\n"),
        QStringLiteral("G: Gauge\nend\n"),
        QStringLiteral("object W: TwskWebSocketClient\n  ProxySSL = psSometimes\nend\n"),
        QStringLiteral("object W: TwskWebSocketClient\n  FirewallAutoDetect = maybe\nend\n"),
        // A number the enumeration does not have would make a value its type cannot hold.
        QStringLiteral("object W: TwskWebSocketClient\n  ProxySSL = 99\nend\n"),
    };
    for (const QString& text : bad) {
        QObject form;
        EXPECT_THROW(toolkit::readForm(text, &form), toolkit::EConvertError) << text.toStdString();
        EXPECT_TRUE(form.children().isEmpty()) << text.toStdString();
    }
    QObject form;
    EXPECT_THROW(toolkit::readForm(QStringLiteral("object X: Unknown\nend\n"), &form), toolkit::EArgumentException);
}

TEST_F(Forms, DesignStateIsTheComponentsOwn)
{
    Gauge gauge;
    EXPECT_FALSE(gauge.designing());
    gauge.setDesigning(true);
    EXPECT_TRUE(gauge.designing());
    EXPECT_TRUE(gauge.componentState().testFlag(toolkit::TComponent::csDesigning));
    gauge.endLoading();  // not loading: loaded() must not run
    EXPECT_EQ(gauge.loadedCalls, 0);
}

}  // namespace

#include "form_stream_test.moc"
