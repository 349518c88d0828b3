// The client object through the exported C functions, as the component and a
// Python host call them: numbering, text forms, indexes, errors, Config and
// the text decoding method. No network here.
#include "engine_test_support.h"

#include <cstring>

using namespace engine_test;

namespace {

TEST(EngineCInterface, DefaultsAndNumbering)
{
    Host host;
    ASSERT_NE(host.handle(), nullptr);
    EXPECT_EQ(host.getInt(kTimeout), 60);
    EXPECT_EQ(host.getInt(kProxyPort), 80);
    EXPECT_EQ(host.getInt(kAcceptData), 1);
    EXPECT_EQ(host.getInt(kConnected), 0);
    EXPECT_EQ(host.getInt(kReadyToSend), 0);
    EXPECT_EQ(host.getBytes(kSSLCertStore), QByteArray("MY"));

    // The 64-bit result slot carries the same value when asked for.
    long long v64 = -1;
    CorvaneWS_WebSocketClient_Get(host.handle(), kTimeout, 0, nullptr, &v64);
    EXPECT_EQ(v64, 60);

    EXPECT_EQ(host.setInt(kTimeout, 10), 0);
    EXPECT_EQ(host.getInt(kTimeout), 10);
    EXPECT_EQ(host.setInt(kFirewallAutoDetect, 5), 0);   // any non-zero value is true
    EXPECT_EQ(host.getInt(kFirewallAutoDetect), 1);
}

TEST(EngineCInterface, StringPropertiesCrossAsUtf16UnderStrNumbers)
{
    Host host;
    const QString origin = QStringLiteral("https://bräunlich.example/ü€");
    EXPECT_EQ(host.setText(kOrigin, origin), 0);
    EXPECT_EQ(host.getText(kOrigin), origin);
    // The value number of a string gives its UTF-8 bytes.
    int n = 0;
    auto* p = static_cast<const char*>(CorvaneWS_WebSocketClient_Get(host.handle(), kOrigin, 0, &n, nullptr));
    EXPECT_EQ(QByteArray(p, n), origin.toUtf8());
    // An empty text is a valid value and clears the property.
    EXPECT_EQ(host.setText(kOrigin, QString()), 0);
    EXPECT_EQ(host.getText(kOrigin), QString());
}

TEST(EngineCInterface, ByteArrayPropertiesHaveAltTextForms)
{
    Host host;
    const QByteArray der("\x30\x82\x00\xff binary\x00tail", 18);
    EXPECT_EQ(host.setBytes(kSSLCertEncoded, der), 0);
    EXPECT_EQ(host.getBytes(kSSLCertEncoded), der);

    // Alt: UTF-16 with an explicit character count, converted with the code page.
    const QString text = QStringLiteral("MY-Störe");
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(host.handle(), kSSLCertStore + 20000, 0, text.utf16(), int(text.size())), 0);
    EXPECT_EQ(host.getBytes(kSSLCertStore), text.toUtf8());
    int n = 0;
    void* w = CorvaneWS_WebSocketClient_Get(host.handle(), kSSLCertStore + 20000, 0, &n, nullptr);
    EXPECT_EQ(QString::fromUtf16(static_cast<const char16_t*>(w), n), text);

    // With a Latin-1 code page the same text gives other bytes.
    host.config("CodePage=28591");
    EXPECT_EQ(host.lastRc, 0);
    CorvaneWS_WebSocketClient_Set(host.handle(), kSSLCertStore + 20000, 0, text.utf16(), int(text.size()));
    EXPECT_EQ(host.getBytes(kSSLCertStore), text.toLatin1());
}

TEST(EngineCInterface, RefusedAccessGivesStableCodesAndTexts)
{
    Host host;
    EXPECT_EQ(host.setInt(kBytesSent, 3), 102);
    EXPECT_EQ(host.lastError(), QStringLiteral("Property is read-only: BytesSent."));
    EXPECT_EQ(CorvaneWS_WebSocketClient_GetLastErrorCode(host.handle()), 102);
    EXPECT_EQ(host.setInt(99, 1), 101);
    EXPECT_EQ(host.setInt(kAuthScheme, 7), 105);
    EXPECT_EQ(host.lastError(), QStringLiteral("Invalid value for AuthScheme."));
    EXPECT_EQ(host.setInt(kTimeout, -1), 105);
    // Str numbers exist only for strings, Alt numbers only for byte arrays.
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(host.handle(), kTimeout + 10000, 0, u"1", 0), 101);
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(host.handle(), kOrigin + 20000, 0, u"x", 1), 101);
    // Write-only data reads as nothing.
    EXPECT_EQ(CorvaneWS_WebSocketClient_Get(host.handle(), kDataToSend, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(CorvaneWS_WebSocketClient_GetLastErrorCode(host.handle()), 103);
    // Methods that need a connection say so.
    EXPECT_EQ(host.call(kSendText, {"x"}), 109);
    EXPECT_EQ(host.lastError(), QStringLiteral("Not connected."));
    EXPECT_EQ(host.call(kPing), 109);
    EXPECT_EQ(host.call(10099), 106);
    EXPECT_EQ(host.call(kConnect, {"http://example.com/"}), 111);
    EXPECT_EQ(host.lastError(), QStringLiteral("Invalid WebSocket URL: http://example.com/."));
    // The host may record its own errors.
    EXPECT_EQ(CorvaneWS_WebSocketClient_SetLastErrorAndCode(host.handle(), 42, "mine"), 42);
    EXPECT_EQ(host.lastError(), QStringLiteral("mine"));
    EXPECT_EQ(CorvaneWS_WebSocketClient_SetEventErrorAndCode(host.handle(), -1, "handler failed"), -1);
    EXPECT_STREQ(CorvaneWS_WebSocketClient_GetEventError(host.handle()), "handler failed");
    EXPECT_EQ(CorvaneWS_WebSocketClient_GetEventErrorCode(host.handle()), -1);
}

TEST(EngineCInterface, IndexedPropertiesFollowTheirCounts)
{
    Host host;
    EXPECT_EQ(host.call(kAddCookie, {"a", "1"}), 0);
    EXPECT_EQ(host.call(kAddCookie, {"b", "2"}), 0);
    EXPECT_EQ(host.call(kAddCookie, {"c", "3"}), 0);
    EXPECT_EQ(host.call(kAddCookie, {"b", "two"}), 0);   // same name replaces
    EXPECT_EQ(host.getInt(kCookieCount), 3);
    EXPECT_EQ(host.getText(kCookieName, 2), QStringLiteral("c"));
    EXPECT_EQ(host.getText(kCookieValue, 1), QStringLiteral("two"));
    EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(host.handle(), kCookieName, 2), 0);
    EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(host.handle(), kCookieName, 5), 104);
    EXPECT_EQ(host.lastError(), QStringLiteral("Invalid array index (CookieIndex)."));
    EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(host.handle(), kCookieName + 10000, -1), 104);
    EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(host.handle(), kParsedHeaderField, 0), 104);
    EXPECT_EQ(host.lastError(), QStringLiteral("Invalid array index (ParsedHeaderIndex)."));

    // Indexed setters take the index; out of range is refused by Set itself.
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(host.handle(), kCookieValue + 10000, 0, u"uno", 0), 0);
    EXPECT_EQ(host.getText(kCookieValue, 0), QStringLiteral("uno"));
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(host.handle(), kCookieValue + 10000, 3, u"x", 0), 104);
    EXPECT_EQ(host.setInt(kCookieCount, 1), 0);
    EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(host.handle(), kCookieName, 1), 104);
    EXPECT_EQ(host.call(kResetHeaders), 0);
    EXPECT_EQ(host.getInt(kCookieCount), 0);
}

TEST(EngineCInterface, ConfigSetsAsksAndRefuses)
{
    Host host;
    EXPECT_EQ(host.config("CodePage=65001"), QStringLiteral("65001"));
    EXPECT_EQ(host.config("ChunkSize"), QStringLiteral("262144"));
    EXPECT_EQ(host.config("chunksize=4096"), QStringLiteral("4096"));
    EXPECT_EQ(host.config("ChunkSize"), QStringLiteral("4096"));
    EXPECT_EQ(host.config("MaxMessageSize=1000\nCloseTimeout=2\nCloseTimeout"), QStringLiteral("2"));
    host.config("NoSuchSetting=1");
    EXPECT_EQ(host.lastRc, 108);
    EXPECT_EQ(host.lastError(), QStringLiteral("Unknown or invalid configuration setting: NoSuchSetting."));
    host.config("CodePage=1251");
    EXPECT_EQ(host.lastRc, 108);
    host.config("ChunkSize=0");
    EXPECT_EQ(host.lastRc, 108);
    EXPECT_EQ(host.config("ChunkSize"), QStringLiteral("4096"));
}

// Method 2003: the host asks for the length, then passes its buffer.
TEST(EngineCInterface, TextDecodingMethodUsesTheCodePage)
{
    Host host;
    const QByteArray bytes = QStringLiteral("Grüße, 世界").toUtf8();
    void* argv[3] = {const_cast<char*>(bytes.constData()), nullptr, nullptr};
    int arglen[3] = {int(bytes.size()), 0, 0};
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, argv, arglen, nullptr), 0);
    const int count = int(num(argv[2]));
    ASSERT_EQ(count, QStringLiteral("Grüße, 世界").size());
    std::u16string out(size_t(count), u'\0');
    argv[1] = out.data();
    arglen[1] = count;
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, argv, arglen, nullptr), 0);
    EXPECT_EQ(QString::fromStdU16String(out), QStringLiteral("Grüße, 世界"));

    // No bytes: nothing to decode.
    void* none[3] = {nullptr, nullptr, reinterpret_cast<void*>(intptr_t(7))};
    int nonelen[3] = {0, 0, 0};
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, none, nonelen, nullptr), 0);
    EXPECT_EQ(num(none[2]), 0);
}

TEST(EngineCInterface, NullHandlesAreRefusedQuietly)
{
    EXPECT_EQ(CorvaneWS_WebSocketClient_Set(nullptr, kTimeout, 0, nullptr, 0), 107);
    EXPECT_EQ(CorvaneWS_WebSocketClient_Do(nullptr, kPing, 0, nullptr, nullptr, nullptr), 107);
    EXPECT_EQ(CorvaneWS_WebSocketClient_GetLastError(nullptr), nullptr);
    int n = 5;
    EXPECT_EQ(CorvaneWS_WebSocketClient_Get(nullptr, kTimeout, 0, &n, nullptr), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(CorvaneWS_WebSocketClient_Destroy(nullptr), 0);
}

TEST(EngineCInterface, ConnectToAClosedPortFailsWithEventAndCode)
{
    Host host;
    host.setInt(kTimeout, 5);
    const int rc = host.call(kConnect, {"ws://127.0.0.1:1/"});
    EXPECT_EQ(rc, 151);
    EXPECT_TRUE(host.lastError().startsWith("Could not connect: ")) << host.lastError().toStdString();
    const Recorded* c = host.last(evConnected);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->ints.at(0), 151);
    EXPECT_EQ(c->texts.at(0), host.lastError());
    EXPECT_EQ(host.getInt(kConnected), 0);
}

} // namespace
