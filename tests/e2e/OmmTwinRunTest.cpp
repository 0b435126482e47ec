// "quillmaren -update" with each OMM format: a twin beside every data set the run
// writes, read back by python-sgp4's OMM readers and compared with the data set.
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qm::e2e {
namespace {

using test::LocalService;

TEST(WholeUpdateRun, OmmTwinBesideEveryDataSetInEachFormat)
{
    const LocalService service = LocalService::fixture("local_service");
    const struct {
        int item;
        const char* kind;
        std::string extension;
    } formats[] = {{1, "xml", ".xml"}, {2, "csv", ".csv"}, {3, "json", ".json"}};
    for (const auto& format : formats) {
        UpdateHome home(service);
        home.writeSettings({.omm = format.item});
        home.addUserQuery("mine", "    1\r\n    1SECOND\r\n99998\r\n");

        const test::ProgramOutcome run = home.runUpdate();
        ASSERT_EQ(run.status, 0) << format.kind << run.err;
        EXPECT_EQ(run.err, "");

        // The 35 categories, "Complete Catalog" and the user's set, each with its twin.
        const std::string myTles = home.myTles();
        const std::vector<std::string> files = UpdateHome::filesBelow(myTles);
        const std::vector<std::string> log = home.logMessages();
        std::vector<std::string> pairs;
        std::size_t records = 0;
        for (const std::string& file : files) {
            if (!file.ends_with(".txt") || !(file.starts_with("Vantoreal/") || file.starts_with("User/")))
                continue;
            const std::string twin = file.substr(0, file.size() - 4) + format.extension;
            const std::string twinName = twin.substr(twin.find('/') + 1);
            EXPECT_TRUE(std::binary_search(files.begin(), files.end(), twin)) << twin;
            EXPECT_NE(std::find(log.begin(), log.end(), "Generating " + twinName), log.end()) << twinName;
            pairs.insert(pairs.end(), {myTles + file, myTles + twin});
            records += test::readFile(myTles + file).size() / 168;
        }
        EXPECT_EQ(pairs.size(), 2u * 37u);
        EXPECT_EQ(files.size(), 3 + 1 + 1 + 2 * 37u)
            << "the downloads, the rejects, the report of changes, the query and the data sets";

        std::vector<std::string> arguments{QM_OMM_READBACK, format.kind};
        arguments.insert(arguments.end(), pairs.begin(), pairs.end());
        const test::ProgramOutcome readBack
            = test::runProgram("/usr/bin/python3", arguments, home.work(""), {"PATH=/usr/bin:/bin"});
        EXPECT_EQ(readBack.status, 0) << readBack.out << readBack.err;
        EXPECT_EQ(readBack.out, "compared " + std::to_string(records) + " objects\n");
        EXPECT_GT(records, 2000u);
    }
}

} // namespace
} // namespace qm::e2e
