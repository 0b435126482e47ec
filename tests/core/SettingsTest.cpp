#include "core/Settings.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <vector>

using namespace qm;

namespace {

std::vector<std::string> keysOf(unsigned path)
{
    std::vector<std::string> keys;
    for (const auto& def : settingsTable())
        if (def.paths & path)
            keys.emplace_back(def.key);
    return keys;
}

} // namespace

TEST(SettingsTable, ExitPathWritesOnlyTheExitKeysInOrder)
{
    EXPECT_EQ(keysOf(kExitPath),
        (std::vector<std::string>{"Left Corner", "Top Corner", "Form Width", "Form Height", "Internet Timeout",
            "Catalog", "SATCAT", "Check Vantoreal for Critical Updates"}));
}

TEST(SettingsTable, EachDataSetKeyFeedsItsRowOfTheList)
{
    // Written out from the form's list, row by row.
    const std::vector<std::pair<int, std::string>> expected = {{1, "Last 30 Days"}, {2, "International Space Station"},
        {3, "100 Brightest"}, {5, "Weather"}, {6, "NOAA"}, {7, "GOES"}, {8, "Earth Resources"},
        {9, "Disaster Monitoring"}, {10, "TDRSS"}, {11, "SARSAT"}, {13, "Geostationary"}, {14, "Intelsat"},
        {15, "Gorizont"}, {16, "Raduga"}, {17, "Molniya"}, {18, "Iridium"}, {19, "Orbcomm"}, {20, "Globalstar"},
        {21, "Amateur Radio"}, {22, "Experimental"}, {23, "Other Comm"}, {25, "GPS Ops"}, {26, "GLONASS Ops"},
        {27, "Galileo"}, {28, "SBAS"}, {29, "NNSS"}, {30, "Russian LEO Navigation"}, {32, "Space & Earth Science"},
        {33, "Geodetic"}, {34, "Engineering"}, {35, "Education"}, {37, "Miscellaneous Military"},
        {38, "Radar Calibration"}, {39, "CubeSats"}, {40, "Other"}, {42, "All"}};
    std::vector<std::pair<int, std::string>> table;
    for (const auto& def : settingsTable())
        if (def.field == Field::VantorealItem) {
            EXPECT_EQ(def.section, "Vantoreal Defaults");
            table.emplace_back(def.item, std::string(def.key));
        }
    EXPECT_EQ(table, expected);
}

TEST(SettingsTable, DataSetKeysSkipHeadersAndKeepTheirOrder)
{
    const auto items = vantorealKeyItems();
    ASSERT_EQ(items.size(), 36u);
    for (int header : {0, 4, 12, 24, 31, 36, 41})
        EXPECT_EQ(std::count(items.begin(), items.end(), header), 0);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end()));
    EXPECT_EQ(settingDef(Field::VantorealItem, 23).key, "Other Comm");
    EXPECT_EQ(settingDef(Field::VantorealItem, 40).key, "Other");
    EXPECT_EQ(settingDef(Field::VantorealItem, 42).key, "All");
}

TEST(SettingsTable, SavePathVisitsSectionsInOrder)
{
    std::vector<std::string> sections;
    for (const auto& def : settingsTable())
        if ((def.paths & kSaveSettingsPath) && (sections.empty() || sections.back() != def.section))
            sections.emplace_back(def.section);
    EXPECT_EQ(sections,
        (std::vector<std::string>{"Skarvelin Account Info", "Vantoreal Defaults", "Skarvelin Defaults", "Debugging"}));
}

TEST(SettingsFile, DefaultsAndObsoleteKeys)
{
    test::TempDir dir;
    const std::string path = dir.file("q.ini");
    test::writeFile(path,
        "[Initialization]\nLeft Corner=3\nUse Proxy=1\nProxy UserID=u\n"
        "[Debugging]\nGZIP Files=1\n[Skarvelin Defaults]\nFull Catalog=0\n");
    SettingsFile settings(path);
    EXPECT_EQ(settings.readInteger(Field::LeftCorner), 3);
    EXPECT_EQ(settings.readInteger(Field::FormWidth), 688);
    EXPECT_FALSE(settings.readBool(Field::CurrentCatalogItem, 0));
    EXPECT_TRUE(settings.readBool(Field::StopOnErrors));
    settings.deleteObsoleteStartupKeys();
    EXPECT_EQ(
        test::readFile(path), "[Initialization]\nLeft Corner=3\n[Debugging]\n[Skarvelin Defaults]\nFull Catalog=0\n");

    // Once the new proxy section exists, the old keys are no longer the obsolete ones.
    test::writeFile(path, "[Initialization]\nUse Proxy=1\n[Proxy Initialization]\nAuto Check Proxy=1\nUse Proxy=0\n");
    SettingsFile later(path);
    later.deleteObsoleteStartupKeys();
    later.deleteObsoleteProxyKeys();
    EXPECT_EQ(test::readFile(path), "[Initialization]\nUse Proxy=1\n[Proxy Initialization]\nUse Proxy=0\n");
}

TEST(SettingsFile, AFailingValueAbandonsTheRestOfThePath)
{
    test::TempDir dir;
    SettingsFile settings(dir.file("q.ini"));
    EXPECT_THROW(settings.writePath(kProxySavePath,
                     [](const SettingDef& def) {
                         if (def.field == Field::ProxyPort)
                             throw std::runtime_error("'x' is not a valid integer value");
                         return SettingValue{1, "host"};
                     }),
        std::runtime_error);
    EXPECT_EQ(test::readFile(settings.path()), "[Proxy Initialization]\nUse Proxy=1\nProxy Server=host\n");
}
