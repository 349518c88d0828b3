// Engine events decoded into Params, write-back of Accept, and what becomes of
// exceptions that handlers raise.
#include "fake_engine_fixture.h"
#include "ws/wskwebsocketclient.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>

using namespace CorvaneWS;

namespace {

void* iv(std::intptr_t v) { return reinterpret_cast<void*>(v); }
void* wv(const char16_t* s) { return const_cast<char16_t*>(s); }

class Events : public wstest::FakeEngineTest {
protected:
    // Raises `event` with argv/arglen of one spare slot, as the engine does.
    int raise(int event, std::vector<void*> argv, std::vector<int> arglen = {})
    {
        const int argc = int(argv.size());
        arglen.resize(argv.size() + 1, 0);
        argv.push_back(nullptr);
        lastArgv = argv;
        const int r = fake->raise(handle, event, argc, lastArgv.data(), arglen.data());
        return r;
    }
    QStringList decodeCalls() const { return fake->calls().filter(QStringLiteral("Do 2003")); }

    std::vector<void*> lastArgv;
};

TEST_F(Events, EmptySlotDecodesNothing)
{
    QByteArray data("payload");
    EXPECT_EQ(raise(3, {iv(0), data.data(), iv(1)}, {0, int(data.size()), 0}), 0);
    EXPECT_EQ(raise(11, {data.data(), wv(u"s"), wv(u"i"), wv(u"ok"), iv(1)}, {int(data.size())}), 0);
    EXPECT_TRUE(fake->calls().isEmpty()) << fake->calls().join('\n').toStdString();
}

TEST_F(Events, DataInCopiesTheBytesAndDecodesTheTextOnlyWhenAHandlerReadsIt)
{
    TwskWebSocketClientDataInEventParams got{};
    QObject* sender = nullptr;
    client->OnDataIn = [&](QObject* s, TwskWebSocketClientDataInEventParams& p) {
        sender = s;
        got = p;
    };
    QByteArray data("h\xc3\xa9llo");
    EXPECT_EQ(raise(3, {iv(2), data.data(), iv(0)}, {0, int(data.size()), 0}), 0);
    EXPECT_EQ(sender, client.get());
    EXPECT_EQ(got.DataFormat, 2);
    EXPECT_EQ(got.TextB, data);
    EXPECT_FALSE(got.EOM);
    // Binary data whose text nobody reads is never decoded.
    EXPECT_TRUE(decodeCalls().isEmpty()) << decodeCalls().join('\n').toStdString();
    EXPECT_FALSE(got.Text.decoded());

    data[0] = 'X';  // the handler got a copy, not the engine's memory, and the text reads from it
    EXPECT_EQ(got.TextB.at(0), 'h');
    EXPECT_EQ(got.Text.value(), QStringLiteral("héllo"));
    EXPECT_EQ(QString(got.Text), QStringLiteral("héllo"));  // read twice, decoded once
    // Count first, then the text into a buffer of that many characters.
    EXPECT_EQ(decodeCalls(), (QStringList{"Do 2003 2 bytes:68c3a96c6c6f/6 null", "Do 2003 2 bytes:68c3a96c6c6f/6 buffer/5"}));

    // Empty data reads as an empty text without asking the engine.
    fake->clear();
    bool emptyText = false;
    client->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) {
        emptyText = p.Text.isEmpty() && p.TextB.isEmpty() && !p.EOM;
    };
    raise(3, {iv(0), nullptr, iv(0)});
    EXPECT_TRUE(emptyText);
    EXPECT_TRUE(decodeCalls().isEmpty());
}

constexpr int kSize = 64 << 10;  // the engine's usual read

// Large data events come in buffers that the component uses again: the bytes a
// handler keeps (queued for a file, say) must never change under it, and only
// buffers that everyone let go are used again.
TEST_F(Events, DataInBuffersAreUsedAgainOnlyWhenNobodyHoldsThem)
{
    QList<QByteArray> kept;
    bool keep = false;
    const char* seen = nullptr;
    client->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) {
        seen = p.TextB.constData();
        if (keep) kept.append(p.TextB);
    };
    auto deliver = [&](char fill, int size = kSize) {
        QByteArray data(size, fill);
        raise(3, {iv(2), data.data(), iv(0)}, {0, size, 0});
        return seen;
    };

    keep = true;
    const char* first = deliver('a');
    keep = false;
    const char* second = deliver('b');
    EXPECT_NE(second, first) << "a kept buffer is not used again";
    EXPECT_EQ(deliver('c'), second) << "a let-go buffer is used again";
    EXPECT_EQ(deliver('d', kSize / 2), second) << "and for shorter data";
    EXPECT_EQ(kept.at(0), QByteArray(kSize, 'a'));

    // A handler that changes its bytes gets its own copy; the next event is whole.
    client->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) {
        p.TextB[0] = 'X';
        kept.append(p.TextB);
    };
    deliver('e');
    client->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) { kept.append(p.TextB); };
    deliver('f');
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept.at(0), QByteArray(kSize, 'a'));
    EXPECT_EQ(kept.at(1), QByteArray(1, 'X') + QByteArray(kSize - 1, 'e'));
    EXPECT_EQ(kept.at(2), QByteArray(kSize, 'f'));

    // Many held at once, then all let go: none changed while held, and a
    // stream whose bytes are let go at once runs in one buffer.
    client->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) {
        seen = p.TextB.constData();
        if (keep) kept.append(p.TextB);
    };
    keep = true;
    for (int i = 0; i < 200; ++i) deliver(char('0' + i % 10));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(kept.at(3 + i), QByteArray(kSize, char('0' + i % 10))) << i;
    kept.clear();
    keep = false;
    std::set<const char*> used;
    for (int i = 0; i < 200; ++i) used.insert(deliver('z'));
    EXPECT_EQ(used.size(), 1u);
}

TEST_F(Events, EveryEventDecodesItsFieldsFromTheirSlots)
{
    QStringList seen;
    client->OnConnected = [&](QObject*, auto& p) { seen << QStringLiteral("Connected %1 %2").arg(p.StatusCode).arg(p.Description); };
    client->OnConnectionStatus = [&](QObject*, auto& p) {
        seen << QStringLiteral("ConnectionStatus %1 %2 %3").arg(p.ConnectionEvent).arg(p.StatusCode).arg(p.Description);
    };
    client->OnDisconnected = [&](QObject*, auto& p) { seen << QStringLiteral("Disconnected %1 %2").arg(p.StatusCode).arg(p.Description); };
    client->OnError = [&](QObject*, auto& p) { seen << QStringLiteral("Error %1 %2").arg(p.ErrorCode).arg(p.Description); };
    client->OnHeader = [&](QObject*, auto& p) { seen << QStringLiteral("Header %1=%2").arg(p.Field, p.Value); };
    client->OnLog = [&](QObject*, auto& p) { seen << QStringLiteral("Log %1 %2 %3").arg(p.LogLevel).arg(p.Message, p.LogType); };
    client->OnReadyToSend = [&](QObject*, auto&) { seen << QStringLiteral("ReadyToSend"); };
    client->OnSetCookie = [&](QObject*, auto& p) {
        seen << QStringLiteral("SetCookie %1 %2 %3 %4 %5 %6")
                    .arg(p.Name, p.Value, p.Expires, p.Domain, p.Path)
                    .arg(p.Secure);
    };
    client->OnSSLStatus = [&](QObject*, auto& p) { seen << QStringLiteral("SSLStatus %1").arg(p.Message); };

    raise(1, {iv(101), wv(u"Switching Protocols")});
    raise(2, {wv(u"Tcp"), iv(0), nullptr});  // a null text reads as empty
    raise(4, {iv(1000), wv(u"bye")});
    raise(5, {iv(-7), wv(u"fault")});
    raise(6, {wv(u"Upgrade"), wv(u"websocket")});
    raise(7, {iv(2), wv(u"line"), wv(u"Info")});
    raise(8, {});
    raise(10, {wv(u"id"), wv(u"42"), wv(u"Thu"), wv(u"d.example"), wv(u"/"), iv(1)});
    raise(12, {wv(u"TLSv1.3")});
    EXPECT_EQ(seen, (QStringList{"Connected 101 Switching Protocols", "ConnectionStatus Tcp 0 ", "Disconnected 1000 bye",
                                 "Error -7 fault", "Header Upgrade=websocket", "Log 2 line Info", "ReadyToSend",
                                 "SetCookie id 42 Thu d.example / 1", "SSLStatus TLSv1.3"}));
}

TEST_F(Events, UnknownEventNumbersAreIgnored)
{
    int calls = 0;
    client->OnConnected = [&](QObject*, auto&) { ++calls; };
    client->OnSSLStatus = [&](QObject*, auto&) { ++calls; };
    EXPECT_EQ(raise(0, {iv(1), nullptr}), 0);
    EXPECT_EQ(raise(13, {nullptr}), 0);
    EXPECT_EQ(calls, 0);
}

TEST_F(Events, RedirectWritesAcceptBack)
{
    client->OnRedirect = [](QObject*, TwskWebSocketClientRedirectEventParams& p) {
        EXPECT_EQ(p.Location, QStringLiteral("ws://elsewhere/"));
        EXPECT_TRUE(p.Accept);
        p.Accept = false;
    };
    raise(9, {wv(u"ws://elsewhere/"), iv(1)});
    EXPECT_EQ(lastArgv[1], nullptr);
}

TEST_F(Events, ServerAuthenticationDecodesTheCertificateAndWritesAcceptBack)
{
    TwskWebSocketClientSSLServerAuthenticationEventParams got{};
    client->OnSSLServerAuthentication = [&](QObject*, TwskWebSocketClientSSLServerAuthenticationEventParams& p) {
        got = p;
        p.Accept = true;  // what the tool's handler does
    };
    QByteArray pem("-----BEGIN CERTIFICATE-----");
    raise(11, {pem.data(), wv(u"CN=recorder"), wv(u"CN=ca"), wv(u"self signed"), iv(0)}, {int(pem.size())});
    EXPECT_EQ(got.CertEncoded, QString::fromLatin1(pem));
    EXPECT_EQ(got.CertEncodedB, pem);
    EXPECT_EQ(got.CertSubject, QStringLiteral("CN=recorder"));
    EXPECT_EQ(got.CertIssuer, QStringLiteral("CN=ca"));
    EXPECT_EQ(got.Status, QStringLiteral("self signed"));
    EXPECT_FALSE(got.Accept);
    EXPECT_EQ(lastArgv[4], iv(1));
    EXPECT_EQ(decodeCalls().size(), 2);
}

TEST_F(Events, MemberFunctionsBindAsHandlers)
{
    struct Form {
        int code = 0;
        void WebSocketClient1Disconnected(QObject*, TwskWebSocketClientDisconnectedEventParams& p) { code = p.StatusCode; }
    } form;
    client->OnDisconnected = bindEvent(&form, &Form::WebSocketClient1Disconnected);
    raise(4, {iv(1006), nullptr});
    EXPECT_EQ(form.code, 1006);
}

// ---- handler exceptions -------------------------------------------------------

struct Reported {
    int code;
    QString text;
};

TEST_F(Events, HandlerExceptionsBecomeEventErrorsAndOnError)
{
    struct Case {
        std::function<void()> thrower;
        int expectedCode;
        QString expectedMessage;
    };
    const std::vector<Case> cases = {
        {[] { throw EWSKCore(42, "boom"); }, 42, QStringLiteral("42: boom")},
        {[] { throw toolkit::EConvertError(QStringLiteral("'x' is not a valid integer value")); }, -1,
         QStringLiteral("'x' is not a valid integer value")},
        {[] { throw std::runtime_error("std failure"); }, -1, QStringLiteral("std failure")},
    };
    for (const auto& c : cases) {
        fake->clear();
        std::vector<Reported> errors;
        client->OnDataIn = [&](QObject*, auto&) { c.thrower(); };
        client->OnError = [&](QObject*, TwskWebSocketClientErrorEventParams& p) { errors.push_back({p.ErrorCode, p.Description}); };
        QByteArray data("x");
        const int result = raise(3, {iv(0), data.data(), iv(1)}, {0, 1, 0});
        const QString text = QStringLiteral("An unhandled error occurred in the DataIn event handler: ") + c.expectedMessage;
        EXPECT_EQ(result, c.expectedCode);
        EXPECT_TRUE(fake->calls().contains(QStringLiteral("SetEventErrorAndCode %1 \"%2\"").arg(c.expectedCode).arg(text)))
            << fake->calls().join('\n').toStdString();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, c.expectedCode);
        EXPECT_EQ(errors[0].text, text);
    }
}

TEST_F(Events, TheEnginesResultIsWhatTheSinkReturnsAndOnErrorSees)
{
    fake->setEventErrorResult(77);
    int errorCode = 0;
    client->OnConnected = [](QObject*, auto&) { throw EWSKCore(5, "x"); };
    client->OnError = [&](QObject*, TwskWebSocketClientErrorEventParams& p) { errorCode = p.ErrorCode; };
    EXPECT_EQ(raise(1, {iv(0), nullptr}), 77);
    EXPECT_EQ(errorCode, 77);
}

TEST_F(Events, FailingHandlerWithoutOnErrorIsStillReported)
{
    client->OnSSLStatus = [](QObject*, auto&) { throw std::logic_error("bad"); };
    EXPECT_EQ(raise(12, {wv(u"m")}), -1);
    EXPECT_EQ(fake->calls().filter(QStringLiteral("SetEventErrorAndCode")),
              QStringList{"SetEventErrorAndCode -1 \"An unhandled error occurred in the SSLStatus event handler: bad\""});
}

TEST_F(Events, OnErrorThatRaisesFiresNoFurtherOnError)
{
    int errorCalls = 0;
    client->OnError = [&](QObject*, auto&) {
        ++errorCalls;
        throw EWSKCore(9, "again");
    };
    // Raised by the engine itself: reported under the name Error, once.
    EXPECT_EQ(raise(5, {iv(3), wv(u"engine error")}), 9);
    EXPECT_EQ(errorCalls, 1);
    EXPECT_EQ(fake->calls().filter(QStringLiteral("SetEventErrorAndCode")),
              QStringList{"SetEventErrorAndCode 9 \"An unhandled error occurred in the Error event handler: 9: again\""});

    // Raised for another handler's failure: the first report stands.
    fake->clear();
    errorCalls = 0;
    client->OnHeader = [](QObject*, auto&) { throw EWSKCore(4, "header"); };
    EXPECT_EQ(raise(6, {wv(u"a"), wv(u"b")}), 4);
    EXPECT_EQ(errorCalls, 1);
    EXPECT_EQ(fake->calls().filter(QStringLiteral("SetEventErrorAndCode")).size(), 1);
}

TEST_F(Events, WriteBackDoesNotHappenWhenTheHandlerRaises)
{
    client->OnRedirect = [](QObject*, TwskWebSocketClientRedirectEventParams& p) {
        p.Accept = false;
        throw std::runtime_error("no");
    };
    raise(9, {wv(u"ws://x/"), iv(1)});
    EXPECT_EQ(lastArgv[1], iv(1));
}

}  // namespace
