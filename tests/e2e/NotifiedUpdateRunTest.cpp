// "quillmaren -update" runs one after another in one home, each told to dunst on a
// session bus of its own, as the notification service of a desktop would be.
#include "NotificationDesktop.h"
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <optional>

namespace qm::e2e {
namespace {

using test::LocalService;

TEST(NotifiedUpdateRun, AFailureTheRecoveryThenSilenceAndNothingWithoutABus)
{
    QM_NEED_NOTIFICATION_DESKTOP();
    const test::NotificationDesktop desktop;
    const LocalService healthy = LocalService::fixture("local_service");
    UpdateHome home(healthy);
    home.writeSettings({});
    const std::string failed = "Skarvelin Quillmaren | TLE update failed | ";
    const std::vector<std::string> cut{"--cut-id", "1"};
    const struct {
        std::vector<std::string> service; // switches of a service of its own; none: the healthy one
        bool bus;
        int status;
        std::string told;
    } rows[] = {
        // The catalogue is cut off: one notice, naming it, though the processing fails too.
        {cut, true, 2,
            failed + "Not stored: " + home.myTles() + "2024/catalog/" + healthy.productName(1)
                + " (Incomplete response) | normal\n"},
        // The same under cron, without a session bus: the same end, nothing told.
        {cut, false, 2, ""},
        // 35 categories and the whole catalogue, every one ticked.
        {{}, true, 0, "Skarvelin Quillmaren | TLE update succeeded again | 36 data sets written | normal\n"},
        {{}, true, 0, ""},
        // A new catalogue, damaged again after its one re-download, halts the program.
        {{"--damage-id", "1", "--date", "20250101"}, true, 1,
            failed + "File " + home.myTles() + "catalog_2l_20250101.txt not found. Input file is probably corrupt."
                + " | critical\n"},
    };
    std::string told;
    std::string cutOutput;
    for (const auto& row : rows) {
        std::optional<LocalService> own;
        if (!row.service.empty())
            own.emplace(row.service);
        home.useService(own ? *own : healthy);
        std::vector<std::string> environment;
        if (row.bus)
            environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + desktop.busAddress());
        const test::ProgramOutcome run = test::waitForProgram(home.startUpdateIn("work", environment), home.work(""));

        EXPECT_EQ(run.status, row.status) << run.err;
        // Read once the program has ended: what it sent did leave before it.
        told += row.told;
        EXPECT_EQ(desktop.received(), told);
        // Without a bus the run says and ends what it did with one.
        if (row.service == cut && !cutOutput.empty()) {
            EXPECT_EQ(run.err + run.out, cutOutput);
        }
        if (row.service == cut)
            cutOutput = run.err + run.out;
    }
}

} // namespace
} // namespace qm::e2e
