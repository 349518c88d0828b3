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

// The client's property table as the host sees it, row by row: which numbers
// exist (value, Str = n + 10000, Alt = n + 20000), what may be read and
// written, the defaults, and which properties take an index.
TEST(EngineCInterface, EveryPropertyHasItsNumbersAccessAndDefault)
{
    enum Kind { B, I, S, Y };
    enum Acc { R = 1, W = 2, RW = 3 };
    struct Row {
        int id;
        Kind kind;
        int access;
        bool indexed;
        intptr_t defaultInt;
        const char* defaultText;
    };
    const Row rows[] = {
        {kAcceptData, B, RW, false, 1, nullptr},          {kAuthorization, S, RW, false, 0, ""},
        {kAuthScheme, I, RW, false, 0, nullptr},          {kBytesSent, I, R, false, 0, nullptr},
        {kConnected, B, RW, false, 0, nullptr},           {kCookieCount, I, RW, false, 0, nullptr},
        {kCookieDomain, S, R, true, 0, nullptr},          {kCookieExpiration, S, R, true, 0, nullptr},
        {kCookieName, S, RW, true, 0, nullptr},           {kCookiePath, S, R, true, 0, nullptr},
        {kCookieSecure, B, R, true, 0, nullptr},          {kCookieValue, S, RW, true, 0, nullptr},
        {kDataFormat, I, RW, false, 0, nullptr},          {kDataToSend, Y, W, false, 0, nullptr},
        {kFirewallAutoDetect, B, RW, false, 0, nullptr},  {kFirewallType, I, RW, false, 0, nullptr},
        {kFirewallHost, S, RW, false, 0, ""},             {kFirewallPassword, S, RW, false, 0, ""},
        {kFirewallPort, I, RW, false, 0, nullptr},        {kFirewallUser, S, RW, false, 0, ""},
        {kFollowRedirects, I, RW, false, 0, nullptr},     {kLocalHost, S, RW, false, 0, ""},
        {kLocalPort, I, RW, false, 0, nullptr},           {kOrigin, S, RW, false, 0, ""},
        {kOtherHeaders, S, RW, false, 0, ""},             {kParsedHeaderCount, I, R, false, 0, nullptr},
        {kParsedHeaderField, S, R, true, 0, nullptr},     {kParsedHeaderValue, S, R, true, 0, nullptr},
        {kPassword, S, RW, false, 0, ""},                 {kProxyAuthScheme, I, RW, false, 0, nullptr},
        {kProxyAutoDetect, B, RW, false, 0, nullptr},     {kProxyPassword, S, RW, false, 0, ""},
        {kProxyPort, I, RW, false, 80, nullptr},          {kProxyServer, S, RW, false, 0, ""},
        {kProxySSL, I, RW, false, 0, nullptr},            {kProxyUser, S, RW, false, 0, ""},
        {kReadyToSend, B, R, false, 0, nullptr},          {kSSLAcceptServerCertEncoded, Y, RW, false, 0, ""},
        {kSSLCertEncoded, Y, RW, false, 0, ""},           {kSSLCertStore, Y, RW, false, 0, "MY"},
        {kSSLCertStorePassword, S, RW, false, 0, ""},     {kSSLCertStoreType, I, RW, false, 0, nullptr},
        {kSSLCertSubject, S, RW, false, 0, ""},           {kSSLServerCertEncoded, Y, R, false, 0, ""},
        {kSubProtocols, S, RW, false, 0, ""},             {kTimeout, I, RW, false, 60, nullptr},
        {kTransferredHeaders, S, R, false, 0, ""},        {kUser, S, RW, false, 0, ""},
    };
    ASSERT_EQ(std::size(rows), 48u);

    Host host;
    void* h = host.handle();
    auto code = [&] { return CorvaneWS_WebSocketClient_GetLastErrorCode(h); };
    auto clear = [&] { CorvaneWS_WebSocketClient_SetLastErrorAndCode(h, 0, nullptr); };
    for (const Row& r : rows) {
        SCOPED_TRACE("property " + std::to_string(r.id));
        // Indexed properties: nothing is valid while their lists are empty.
        EXPECT_EQ(CorvaneWS_WebSocketClient_CheckIndex(h, r.id, 0), r.indexed ? 104 : 0);
        if (r.indexed)
            continue;

        clear();
        if (r.access & R) {
            int n = -1;
            void* v = CorvaneWS_WebSocketClient_Get(h, r.kind == S ? r.id + 10000 : r.id, 0, &n, nullptr);
            EXPECT_EQ(code(), 0);
            if (r.kind == B || r.kind == I) {
                EXPECT_EQ(num(v), r.defaultInt);
            } else if (r.kind == S) {
                EXPECT_EQ(wide(v), QString::fromUtf8(r.defaultText));
            } else {
                EXPECT_EQ(QByteArray(static_cast<const char*>(v), n), QByteArray(r.defaultText));
            }
        } else {
            EXPECT_EQ(CorvaneWS_WebSocketClient_Get(h, r.id, 0, nullptr, nullptr), nullptr);
            EXPECT_EQ(code(), 103);
        }

        // Only strings have a Str number, only byte arrays an Alt number.
        const int writable = !(r.access & W) ? 102 : r.id == kDataToSend ? 109 : 0;
        EXPECT_EQ(CorvaneWS_WebSocketClient_Set(h, r.id + 10000, 0, u"", 0), r.kind == S ? writable : 101);
        EXPECT_EQ(CorvaneWS_WebSocketClient_Set(h, r.id + 20000, 0, u"", 0), r.kind == Y ? writable : 101);
        if (r.kind != S && r.kind != Y && r.id != kConnected) {
            EXPECT_EQ(CorvaneWS_WebSocketClient_Set(h, r.id, 0, reinterpret_cast<void*>(r.defaultInt), 0), writable);
        }
    }

    // Read/write values come back as written.
    Host fresh;
    EXPECT_EQ(fresh.setText(kSubProtocols, "chat, superchat"), 0);
    EXPECT_EQ(fresh.getText(kSubProtocols), QStringLiteral("chat, superchat"));
    EXPECT_EQ(fresh.setInt(kFollowRedirects, 2), 0);
    EXPECT_EQ(fresh.getInt(kFollowRedirects), 2);
    EXPECT_EQ(fresh.setInt(kProxyAuthScheme, 6), 105);     // the proxy scheme stops at authNegotiate
    EXPECT_EQ(fresh.setInt(kProxyAuthScheme, 5), 0);
    EXPECT_EQ(fresh.setInt(kSSLCertStoreType, 99), 0);
    EXPECT_EQ(fresh.setInt(kSSLCertStoreType, 100), 105);
    // Codes without a meaning in this engine are refused, not stored.
    EXPECT_EQ(fresh.setInt(kFirewallType, 4), 105);
    EXPECT_EQ(fresh.setInt(kDataFormat, 3), 105);
    EXPECT_EQ(fresh.getInt(kDataFormat), 0);
    EXPECT_EQ(fresh.setInt(kAcceptData, 0), 0);
    EXPECT_EQ(fresh.getInt(kAcceptData), 0);
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
    static const char raw[] = "\x30\x82\x00\xff binary\x00tail";
    const QByteArray der(raw, qsizetype(sizeof raw - 1));   // the inner zero byte included
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

    // A host may ask only for the length and then fill the same buffer with
    // other bytes of the same size: the count is that of the new bytes.
    char reused[4] = "abc";
    void* first[3] = {reused, nullptr, nullptr};
    int firstLen[3] = {3, 0, 0};
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, first, firstLen, nullptr), 0);
    EXPECT_EQ(num(first[2]), 3);
    std::memcpy(reused, "\xe2\x82\xac", 3);   // one character now
    void* again[3] = {reused, nullptr, nullptr};
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, again, firstLen, nullptr), 0);
    ASSERT_EQ(num(again[2]), 1);
    char16_t euro[1] = {0};
    again[1] = euro;
    firstLen[1] = 1;
    ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, again, firstLen, nullptr), 0);
    EXPECT_EQ(euro[0], u'\u20ac');
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
