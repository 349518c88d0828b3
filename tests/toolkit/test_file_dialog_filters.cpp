// Filter texts of the file dialogs.
#include "toolkit/user_interaction.h"

#include <gtest/gtest.h>

TEST(FileDialogFilters, PairsBecomeQtFilters)
{
    EXPECT_EQ(toolkit::qtFilterFromPairs("ini|*.ini"), QStringLiteral("ini (*.ini)"));
    EXPECT_EQ(toolkit::qtFilterFromPairs("Tracks|*.drv;*.DRV|All|*"), QStringLiteral("Tracks (*.drv *.DRV);;All (*)"));
}

TEST(FileDialogFilters, ChosenFilterGivesTheSuffixOfATypedName)
{
    const QStringList filters = toolkit::qtFilterFromPairs("CSV table|*.csv|GPX 1.1 track|*.gpx").split(";;");
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(toolkit::suffixOfFilter(filters[0]), QStringLiteral("csv"));
    EXPECT_EQ(toolkit::suffixOfFilter(filters[1]), QStringLiteral("gpx")) << "not the 1.1 of the description";
    EXPECT_EQ(toolkit::suffixOfFilter("All (*)"), QString());
    EXPECT_EQ(toolkit::suffixOfFilter("*"), QString());
}
