// The library exports exactly the C interface: twelve functions per engine
// object and the two shared ones, nothing else (no C++ symbols, no OpenSSL,
// no Qt), as nm sees the dynamic symbol table.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <set>

namespace {

TEST(EngineExports, ExactlyTheCInterface)
{
    QProcess nm;
    nm.start("nm", {"-D", "--defined-only", ENGINE_LIBRARY});
    ASSERT_TRUE(nm.waitForFinished(30000)) << "nm did not run";
    ASSERT_EQ(nm.exitCode(), 0) << nm.readAllStandardError().toStdString();
    std::set<QString> exported;
    for (const QString& line : QString::fromUtf8(nm.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        if (parts.size() == 3 && parts[1] != "A")   // version nodes are absolute symbols
            exported.insert(parts[2].section('@', 0, 0));
    }
    std::set<QString> expected{"CorvaneWS_EvtStr", "CorvaneWS_Stream"};
    for (const char* object : {"WebSocketClient", "WebSocketServer", "CertMgr"})
        for (const char* op : {"Create", "Destroy", "CheckIndex", "Get", "Set", "Do", "GetLastError", "GetLastErrorCode",
                               "SetLastErrorAndCode", "GetEventError", "GetEventErrorCode", "SetEventErrorAndCode"})
            expected.insert(QStringLiteral("CorvaneWS_%1_%2").arg(object, op));
    EXPECT_EQ(exported, expected);
}

} // namespace
