#include "service/CurrentData.h"

#include "RecordingReporter.h"

#include <gtest/gtest.h>

using namespace qm;

TEST(CurrentData, NamesDecide)
{
    const std::string twoLine = "/home/u/Documents/My TLEs/catalog/catalog_2l_2007_10_15_am.txt";
    const std::string threeLine = "/x/catalog_3l_2007_10_15.zip";
    EXPECT_TRUE(DataAreCurrent(0, twoLine, "/x/ssr_1.zip"));
    EXPECT_FALSE(DataAreCurrent(0, twoLine, "")) << "two-line needs the situation report";
    EXPECT_FALSE(DataAreCurrent(1, twoLine, "/x/ssr_1.zip"));
    EXPECT_TRUE(DataAreCurrent(1, threeLine, ""));
    EXPECT_FALSE(DataAreCurrent(-1, threeLine, "/x/ssr"));
    EXPECT_FALSE(DataAreCurrent(0, "/x/catalog_xx_2l_1.txt", "/x/ssr")) << "marker must start at character 8";
    EXPECT_FALSE(DataAreCurrent(0, "/catalog_2l_dir/other.txt", "/x/ssr")) << "only the file name counts";
    EXPECT_FALSE(DataAreCurrent(0, "", "/x/ssr"));
}

TEST(CurrentData, ButtonAndStatus)
{
    test::RecordingReporter r(false);
    auto current = CheckForCurrentData(1, "catalog_3l_1.txt", "", false, r);
    EXPECT_EQ(current.processEnabled, true);
    EXPECT_EQ(current.status, "Ready");

    r.hint = "Next TLE update attempt: 2007 Oct 15 14:03";
    current = CheckForCurrentData(1, "catalog_3l_1.txt", "", true, r);
    EXPECT_EQ(current.processEnabled, std::nullopt) << "auto download leaves the button as it is";
    EXPECT_EQ(current.status, r.hint);

    auto stale = CheckForCurrentData(0, "catalog_3l_1.txt", "", false, r);
    EXPECT_EQ(stale.processEnabled, false);
    EXPECT_EQ(stale.status, std::string(kNotCurrentMessage));
    stale = CheckForCurrentData(0, "catalog_3l_1.txt", "", true, r);
    EXPECT_EQ(stale.processEnabled, false);
    EXPECT_EQ(stale.status, std::nullopt);
}
