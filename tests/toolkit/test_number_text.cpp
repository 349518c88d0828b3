#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace toolkit;

TEST(StrToInt, ReadsSignedDecimalWithBlanksAndLeadingZeros)
{
    EXPECT_EQ(StrToInt("030"), 30);
    EXPECT_EQ(StrToInt("  -570 "), -570);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, RejectsWhatIsNotADecimalInteger)
{
    for (const char* bad : {"", " ", "-", "abc", "1.5", "12a", "0x10", "$FF", "2147483648", "1 2"}) {
        try {
            StrToInt(QString::fromLatin1(bad));
            FAIL() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(QLatin1String(bad)));
        }
    }
}

TEST(StrToFloat, ReadsPointDecimalsWhateverTheLocale)
{
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a comma locale must not change the reading
    EXPECT_DOUBLE_EQ(StrToFloat(" 70.9"), 70.9);
    EXPECT_DOUBLE_EQ(StrToFloat("-10"), -10.0);
    EXPECT_DOUBLE_EQ(StrToFloat("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("1e3"), 1000.0);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(StrToFloat, RejectsCommaLettersAndEmptyText)
{
    for (const char* bad : {"", "abc", "1,5", ".", "1e", "--1", "1.2.3"}) {
        try {
            StrToFloat(QString::fromLatin1(bad));
            FAIL() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("'%1' is not a valid floating point value").arg(QLatin1String(bad)));
        }
    }
}

TEST(FormatFloat, PadsToWidthWithAPoint)
{
    EXPECT_EQ(FormatFloat("%3.0f", 5), QStringLiteral("  5"));
    EXPECT_EQ(FormatFloat("%3.1f", 70.866), QStringLiteral("70.9"));
    EXPECT_EQ(FormatFloat("%3.1f", -3.937), QStringLiteral("-3.9"));
}
