// The preferences' unit table on text alone: factors, rounding, the padded
// formats, round trips and the values handed back to the file.
#include "settings/unit_conversion.h"
#include "toolkit/exceptions.h"

#include <gtest/gtest.h>

#include <map>

using settings::DisplayUnit;
using settings::Quantity;

namespace {

QString shownIn(DisplayUnit unit, Quantity quantity, const QString& text)
{
    return settings::convertShownText(text, settings::conversionInto(unit, quantity));
}

}  // namespace

TEST(UnitConversion, StartLengthsToInchAndBack)
{
    struct Case {
        const char* cm;
        const char* inch;
        const char* cmAgain;
    };
    const Case lengths[] = {
        {"180", "70.9", "180"}, {"80", "31.5", " 80"}, {"120", "47.2", "120"}, {"150", "59.1", "150"}, {"0", "0.0", "  0"},
    };
    for (const Case& c : lengths) {
        const QString inch = shownIn(DisplayUnit::Inch, Quantity::Length, c.cm);
        EXPECT_EQ(inch, QLatin1String(c.inch)) << c.cm;
        EXPECT_EQ(shownIn(DisplayUnit::Cm, Quantity::Length, inch), QLatin1String(c.cmAgain)) << c.cm;
    }
}

TEST(UnitConversion, VelocityIsRoundedInBothDirections)
{
    const QString inch = shownIn(DisplayUnit::Inch, Quantity::Velocity, "150");
    EXPECT_EQ(inch, QStringLiteral(" 59")) << "59.055 rounded, padded to three characters";
    EXPECT_EQ(shownIn(DisplayUnit::Cm, Quantity::Velocity, inch), QStringLiteral("150"));
}

TEST(UnitConversion, StartSpeedsToMphAndBack)
{
    const std::map<QString, std::pair<QString, QString>> speeds = {
        {"40", {"24.9", " 40"}}, {"120", {"74.6", "120"}}, {"10", {"6.2", " 10"}}};
    for (const auto& [kmh, expected] : speeds) {
        const QString mph = shownIn(DisplayUnit::Mph, Quantity::Speed, kmh);
        EXPECT_EQ(mph, expected.first) << kmh.toStdString();
        EXPECT_EQ(shownIn(DisplayUnit::KmH, Quantity::Speed, mph), expected.second) << kmh.toStdString();
    }
}

TEST(UnitConversion, FormatsPadSmallNumbersAndKeepTheSign)
{
    EXPECT_EQ(shownIn(DisplayUnit::Cm, Quantity::Length, "2"), QStringLiteral("  5")) << "5.08 rounds to 5";
    EXPECT_EQ(shownIn(DisplayUnit::Inch, Quantity::Length, "-10"), QStringLiteral("-3.9"));
    EXPECT_EQ(shownIn(DisplayUnit::Cm, Quantity::Length, "-3.9"), QStringLiteral("-10"));
    EXPECT_EQ(shownIn(DisplayUnit::Cm, Quantity::Length, "-0.1"), QStringLiteral("  0")) << "no negative zero";
    EXPECT_EQ(shownIn(DisplayUnit::Inch, Quantity::Length, "1000"), QStringLiteral("393.7"));
    EXPECT_EQ(shownIn(DisplayUnit::Inch, Quantity::Length, " 180 "), QStringLiteral("70.9")) << "blanks around";
}

TEST(UnitConversion, TextThatIsNoNumberRaisesTheConversionError)
{
    for (const char* bad : {"", "abc", "12,5", "1.2.3"})
        EXPECT_THROW(shownIn(DisplayUnit::Inch, Quantity::Length, bad), toolkit::EConvertError) << bad;
}

TEST(UnitConversion, StoredTextIsTheMetricRowWithoutPadding)
{
    const auto& toCm = settings::conversionInto(settings::storedUnit(Quantity::Length), Quantity::Length);
    const auto& toKmh = settings::conversionInto(settings::storedUnit(Quantity::Speed), Quantity::Speed);
    EXPECT_EQ(settings::convertToStoredText("70.9", toCm), QStringLiteral("180"));
    EXPECT_EQ(settings::convertToStoredText("31.5", toCm), QStringLiteral("80"));
    EXPECT_EQ(settings::convertToStoredText("0.0", toCm), QStringLiteral("0"));
    EXPECT_EQ(settings::convertToStoredText("6.2", toKmh), QStringLiteral("10"));
    EXPECT_EQ(settings::convertToStoredText(" 59", settings::conversionInto(DisplayUnit::Cm, Quantity::Velocity)),
              QStringLiteral("150"));
}

TEST(UnitConversion, EachUnitGovernsItsOwnFamily)
{
    EXPECT_TRUE(settings::governs(DisplayUnit::Inch, Quantity::Length));
    EXPECT_TRUE(settings::governs(DisplayUnit::Inch, Quantity::Velocity));
    EXPECT_FALSE(settings::governs(DisplayUnit::Inch, Quantity::Speed));
    EXPECT_TRUE(settings::governs(DisplayUnit::Mph, Quantity::Speed));
    EXPECT_FALSE(settings::governs(DisplayUnit::KmH, Quantity::Velocity));
    EXPECT_EQ(settings::storedUnit(Quantity::Velocity), DisplayUnit::Cm);
    EXPECT_THROW(settings::conversionInto(DisplayUnit::Mph, Quantity::Length), toolkit::EArgumentException);
    // Every unit has a row for every quantity it governs.
    for (DisplayUnit u : {DisplayUnit::Cm, DisplayUnit::Inch, DisplayUnit::KmH, DisplayUnit::Mph})
        for (Quantity q : {Quantity::Length, Quantity::Velocity, Quantity::Speed})
            if (settings::governs(u, q)) {
                EXPECT_NO_THROW(settings::conversionInto(u, q));
            }
}

TEST(UnitConversion, CaptionsCarryNoNumberingAfterAChange)
{
    std::map<QString, std::pair<QString, QString>> captions;
    for (const auto& f : settings::unitFields()) {
        const bool speed = f.display->quantity == Quantity::Speed;
        captions[QLatin1String(f.display->label)] = {
            settings::captionIn(*f.display, speed ? DisplayUnit::KmH : DisplayUnit::Cm),
            settings::captionIn(*f.display, speed ? DisplayUnit::Mph : DisplayUnit::Inch)};
    }
    EXPECT_EQ(captions.size(), 9u);
    EXPECT_EQ(captions["lbCameraHeight"].first, QStringLiteral("Camera ~ Height (cm)"));
    EXPECT_EQ(captions["lbCameraCenter"].second, QStringLiteral("Camera ~ Off-Center (inch)"));
    EXPECT_EQ(captions["lbEventRlcSpeed"].second, QStringLiteral("inch/sec"));
    EXPECT_EQ(captions["lbEventSpeed"].first, QStringLiteral("km/h"));
    EXPECT_EQ(captions["lbEventDecelSpeed"].second, QStringLiteral("mph"));
}
