// The shared helpers: the exception's message, the text copy and file times.
#include "ws/wsk_core.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using namespace CorvaneWS;

namespace {

TEST(EWSKCoreTest, MessageIsCodeColonText)
{
    const EWSKCore e(11, "Timeout");
    EXPECT_EQ(e.Code, 11);
    EXPECT_EQ(e.message(), QStringLiteral("11: Timeout"));
    EXPECT_STREQ(e.what(), "11: Timeout");
    EXPECT_EQ(EWSKCore(-3, nullptr).message(), QStringLiteral("-3: "));
    EXPECT_EQ(EWSKCore(7, "h\xc3\xa9").message(), QStringLiteral("7: hé"));
    const toolkit::Exception& base = e;  // shown by the standard exception display
    EXPECT_EQ(base.message(), QStringLiteral("11: Timeout"));
}

TEST(StringToSPTRBufTest, CopiesWithoutTerminatorAndRefusesSmallBuffers)
{
    char16_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(StringToSPTRBuf(QStringLiteral("abc"), buffer, 3), 3);
    EXPECT_EQ(std::u16string(buffer, 4), u"abc#");
    EXPECT_EQ(StringToSPTRBuf(QString(), buffer, 8), 0);
    EXPECT_EQ(StringToSPTRBuf(QStringLiteral("abc"), nullptr, 8), 0);
    try {
        StringToSPTRBuf(QStringLiteral("abcd"), buffer, 3);
        FAIL();
    } catch (const toolkit::EArgumentException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot copy string, too large for destination buffer."));
    }
}

TEST(FileTimeTest, ConvertsAgainstKnownPoints)
{
    const FILETIME unixEpoch = 116444736000000000ULL;
    EXPECT_EQ(FileTimeToDateTime(unixEpoch), QDateTime(QDate(1970, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(FileTimeToDateTime(0), QDateTime(QDate(1601, 1, 1), QTime(0, 0), QTimeZone::utc()));

    const QDateTime t(QDate(2026, 3, 14), QTime(15, 9, 26, 535), QTimeZone::utc());
    const FILETIME ft = DateTimeToFileTime(t);
    EXPECT_EQ(ft, 134179745665350000ULL);
    EXPECT_EQ(FileTimeToDateTime(ft), t);
    // Below a millisecond is not kept.
    EXPECT_EQ(FileTimeToDateTime(ft + 9999), t);
    // A local time converts by the instant it denotes.
    EXPECT_EQ(DateTimeToFileTime(t.toTimeZone(QTimeZone(3600))), ft);
    EXPECT_EQ(DateTimeToFileTime(QDateTime(QDate(1500, 1, 1), QTime(0, 0), QTimeZone::utc())), 0u);
}

}  // namespace
