// Parts of the engine below the C interface: the SOCKS4 handshake bytes, the
// error table, event strings, streams and the socket graveyard.
#include "engine/include/corvanews20.h"
#include "engine/objects/cert_mgr.h"
#include "engine/objects/engine_object.h"
#include "engine/protocol/errors.h"
#include "engine/transport/deferred_delete.h"
#include "engine/transport/socket_graveyard.h"
#include "engine/protocol/socks4.h"
#include "engine/transport/stream.h"
#include "engine/objects/websocket_client.h"
#include "engine/objects/websocket_server.h"
#include "engine/objects/websocket_proxy.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QFile>
#include <QRegularExpression>

#include <functional>
#include <map>
#include <set>
#include <vector>

using namespace corvane::engine;

namespace {

TEST(EngineSocks4, RequestForAnAddressAndForAName)
{
    using corvane::protocol::buildSocks4Request;
    const std::string ip = buildSocks4Request("127.0.0.1", 8080, "bob");
    EXPECT_EQ(ip, std::string("\x04\x01\x1f\x90\x7f\x00\x00\x01" "bob\x00", 12));
    // A name goes as SOCKS4a: 0.0.0.1, the user id, then the name.
    const std::string name = buildSocks4Request("recorder.local", 443, "");
    EXPECT_EQ(name, std::string("\x04\x01\x01\xbb\x00\x00\x00\x01\x00" "recorder.local\x00", 24));
    // SOCKS4 has no room for IPv6.
    EXPECT_TRUE(buildSocks4Request("::1", 80, "").empty());
}

TEST(EngineSocks4, Replies)
{
    const uint8_t granted[8] = {0, 90, 0, 0, 0, 0, 0, 0};
    const uint8_t rejected[8] = {0, 91, 0, 0, 0, 0, 0, 0};
    const uint8_t garbage[8] = {5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(corvane::protocol::parseSocks4Reply(granted), 90);
    EXPECT_EQ(corvane::protocol::parseSocks4Reply(rejected), 91);
    EXPECT_EQ(corvane::protocol::parseSocks4Reply(garbage), -1);
    EXPECT_STRNE(corvane::protocol::socks4StatusText(91), "");
}

TEST(EngineErrors, TableIsUniqueAndFormatsDetails)
{
    size_t count = 0;
    const ErrorInfo* table = errorTable(count);
    std::set<int> codes;
    for (size_t k = 0; k < count; ++k)
        EXPECT_TRUE(codes.insert(table[k].code).second) << "duplicate code " << table[k].code;
    EXPECT_EQ(errorText(kTimeout), "Timeout");
    EXPECT_EQ(errorText(kInvalidIndex, "CookieIndex"), "Invalid array index (CookieIndex).");
    EXPECT_EQ(errorText(kNotConnected, "ignored"), "Not connected.");
    EXPECT_EQ(errorText(99999), "Error 99999");
}

// Rows "| a | b | ... |" of the Markdown table under `heading` in engine/README.md.
std::vector<QStringList> readmeTable(const QString& heading)
{
    QFile f(qEnvironmentVariable("BRINDLE_SOURCE_DIR", BRINDLE_TEST_SOURCE_DIR) + "/engine/README.md");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    std::vector<QStringList> rows;
    qsizetype k = lines.indexOf(heading);
    if (k < 0)
        return {};
    for (++k; k < lines.size() && !lines[k].startsWith("#"); ++k) {
        const QString line = lines[k].trimmed();
        if (!line.startsWith('|') || line.startsWith("|---"))
            continue;
        QStringList cells = line.mid(1, line.size() - 2).split('|');
        for (QString& c : cells)
            c = c.trimmed().remove('`');
        rows.push_back(cells);
    }
    if (!rows.empty())
        rows.erase(rows.begin());   // the column titles
    return rows;
}

// Hosts read the README's tables; they must say what the code does.
// Each object's own Config settings, as its README section lists them.
void expectReadmeConfigTable(const char* heading, std::span<const ConfigDef> config)
{
    const std::vector<QStringList> settings = readmeTable(heading);
    ASSERT_EQ(settings.size(), config.size());
    for (size_t k = 0; k < config.size(); ++k) {
        SCOPED_TRACE(config[k].name);
        EXPECT_EQ(settings[k].value(0), QLatin1String(config[k].name));
        const QString expected = config[k].type == ConfigType::String
                                     ? '"' + QString::fromUtf8(config[k].defaultText) + '"'
                                     : QString::number(config[k].defaultInt);
        EXPECT_EQ(settings[k].value(1), expected);
    }
}

TEST(EngineTables, ReadmeListsTheErrorCodesAndConfigSettingsOfTheCode)
{
    const std::vector<QStringList> errors = readmeTable("## Error codes");
    ASSERT_FALSE(errors.empty()) << "no error table in engine/README.md";
    size_t count = 0;
    const ErrorInfo* table = errorTable(count);
    std::map<int, QString> documented;
    for (const QStringList& row : errors)
        documented[row.value(0).toInt()] = row.value(1);
    for (size_t k = 0; k < count; ++k) {
        if (table[k].code == kOk)
            continue;
        SCOPED_TRACE(table[k].code);
        ASSERT_TRUE(documented.count(table[k].code)) << "undocumented code";
        const QString text = QString::fromUtf8(table[k].text);
        const QString doc = documented[table[k].code];
        EXPECT_TRUE(doc == text || doc.startsWith(text + " (")) << doc.toStdString();
        documented.erase(table[k].code);
    }
    EXPECT_TRUE(documented.empty()) << "documented but unknown: " << documented.begin()->first;

    expectReadmeConfigTable("## Config settings", clientConfig());
}

TEST(EngineTables, ReadmeListsTheCertificateManagerConfigSettings)
{
    expectReadmeConfigTable("### Config settings of the certificate manager", certMgrConfig());
}

TEST(EngineTables, ReadmeListsTheProxysConfigSettings)
{
    expectReadmeConfigTable("### Config settings of the proxy", proxyConfig());
}

TEST(EngineTables, ReadmeListsTheServerConfigSettings)
{
    expectReadmeConfigTable("### Config settings of the server", serverConfig());
}

TEST(EngineTables, ClientPropertiesAreNumberedInOrder)
{
    const auto props = clientProperties();
    ASSERT_EQ(props.size(), 48u);
    for (size_t k = 0; k < props.size(); ++k)
        EXPECT_EQ(props[k].id, int(k) + 1) << props[k].name;
    int indexed = 0;
    for (const PropertyDef& p : props)
        indexed += p.indexName != nullptr;
    EXPECT_EQ(indexed, 8);   // six cookie properties, two parsed-header properties
}

TEST(EngineEventStrings, ReadAndWriteInBothEncodings)
{
    EventString s;
    s.text = QStringLiteral("Grüß");
    EXPECT_EQ(QString::fromUtf16(static_cast<const char16_t*>(CorvaneWS_EvtStr(&s, 0, nullptr, 2))), s.text);
    EXPECT_STREQ(static_cast<const char*>(CorvaneWS_EvtStr(&s, 0, nullptr, 0)), "Gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(reinterpret_cast<intptr_t>(CorvaneWS_EvtStr(&s, 1, nullptr, 0)), 6);
    EXPECT_EQ(CorvaneWS_EvtStr(&s, 2, const_cast<char16_t*>(u"neu"), 2), &s);
    EXPECT_EQ(s.text, QStringLiteral("neu"));
    CorvaneWS_EvtStr(&s, 2, const_cast<char*>("utf8 \xe2\x82\xac"), 0);
    EXPECT_EQ(s.text, QStringLiteral("utf8 €"));
    CorvaneWS_EvtStr(&s, 2, nullptr, 2);
    EXPECT_TRUE(s.text.isEmpty());
    EXPECT_EQ(CorvaneWS_EvtStr(nullptr, 0, nullptr, 2), nullptr);
}

TEST(EngineStreams, ReadWriteSizeAndClose)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    DeviceStream stream(&buffer);
    char data[] = "0123456789";
    int n = 10;
    EXPECT_EQ(CorvaneWS_Stream(&stream, kStreamWrite, data, &n), 0);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(CorvaneWS_Stream(&stream, kStreamSize, nullptr, &n), 0);
    EXPECT_EQ(n, 10);
    buffer.seek(2);
    char out[4] = {};
    n = 4;
    EXPECT_EQ(CorvaneWS_Stream(&stream, kStreamRead, out, &n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::string(out, 4), "2345");
    n = -1;
    EXPECT_EQ(CorvaneWS_Stream(&stream, kStreamRead, out, &n), kInvalidArgument);
    EXPECT_EQ(CorvaneWS_Stream(&stream, 9, out, &n), kInvalidArgument);
    EXPECT_EQ(CorvaneWS_Stream(&stream, kStreamClose, nullptr, nullptr), 0);
    EXPECT_FALSE(buffer.isOpen());
    EXPECT_EQ(CorvaneWS_Stream(nullptr, kStreamRead, out, &n), kInvalidArgument);
}

} // namespace

// Retired sockets wait for the event loop, and not while a socket handler of
// the engine runs (a host's nested DoEvents inside an event included).
TEST(EngineSocketGraveyard, RetiredObjectsGoOnALaterLoopTurnOutsideSocketHandlers)
{
    // Turns the event loop until done, for two seconds at most.
    auto spin = [](const std::function<bool()>& done, int turns = 200) {
        for (int k = 0; k < turns && !done(); ++k) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };
    QPointer<QObject> retired = new QObject();
    retireObject(retired);
    EXPECT_FALSE(retired.isNull()) << "deleted while its caller may still be inside one of its signals";
    spin([&] { return retired.isNull(); });
    EXPECT_TRUE(retired.isNull());

    QPointer<QObject> duringSlot = new QObject();
    {
        SlotScope scope;
        retireObject(duringSlot);
        spin([] { return false; }, 10);   // several purge rounds come and go
        EXPECT_FALSE(duringSlot.isNull()) << "deleted under a running socket handler";
    }
    spin([&] { return duringSlot.isNull(); });
    EXPECT_TRUE(duringSlot.isNull());

    // A lingering socket is nobody's to delete until it retires itself.
    QPointer<QObject> lingering = new QObject();
    lingerObject(lingering);
    QPointer<QObject> other = new QObject();
    retireObject(other);
    spin([&] { return other.isNull(); });
    EXPECT_TRUE(other.isNull());
    EXPECT_FALSE(lingering.isNull());
    retireLingering(lingering);
    spin([&] { return lingering.isNull(); });
    EXPECT_TRUE(lingering.isNull());
}

// What is retired while engine code is on the stack goes when the outermost
// entry leaves, in the order retired, with what is retired while it goes;
// nothing waits for an event loop that a host may never turn again.
TEST(EngineDeferredDelete, RetiredThingsGoWhenTheOutermostEntryLeaves)
{
    std::vector<std::string> freed;
    std::function<void(std::string)> retire = [&](std::string name) {
        deferDelete([&freed, name] { freed.push_back(name); });
    };
    retire("outside");
    EXPECT_EQ(freed, std::vector<std::string>{"outside"}) << "nothing on the stack: freed at once";
    freed.clear();
    {
        EntryGuard host(EntryFrom::Host);
        EXPECT_FALSE(insideEventLoopEntry());
        retire("a");
        {
            EntryGuard slot;
            EXPECT_TRUE(insideEventLoopEntry());
            retire("b");
            deferDelete([&] {
                freed.push_back("c");
                retire("d");
            });
        }
        EXPECT_TRUE(freed.empty()) << "freed under an outer entry";
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_FALSE(insideEngine());
}
