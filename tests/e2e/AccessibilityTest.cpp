// The window as a screen reader meets it, through the real accessibility bus: the walk
// (accessibility_walk.py, which holds the table of controls) runs the program in a
// throw-away home against a local service that drips the catalogue in, so that the
// transfer bar can be read while it moves.
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace qm::e2e {
namespace {

// Empty when the X server, the buses and pyatspi are installed; else what is missing.
std::string unavailable()
{
    std::string missing;
    for (const char* file : {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher",
             "/usr/libexec/at-spi2-registryd", "/usr/bin/python3", "/usr/lib/python3/dist-packages/pyatspi"})
        if (::access(file, F_OK) != 0)
            missing += std::string(" ") + file;
    return missing;
}

TEST(Accessibility, EveryControlIsNamedAndReachedFromTheKeyboard)
{
    if (const std::string missing = unavailable(); !missing.empty()) {
        // CI installs them with the test packages: there the walk must not be skipped.
        if (std::getenv("CI"))
            FAIL() << "not installed:" << missing;
        GTEST_SKIP() << "not installed:" << missing << " (the Makefile's test packages bring them)";
    }
    const test::LocalService service({"--slow-id", "1", "--slow-rate", "60000"});
    UpdateHome home(service);
    home.writeSettings({});
    const test::ProgramOutcome walk = test::runProgram(
        "/usr/bin/python3", {QM_ACCESSIBILITY_WALK, home.program()}, home.work(""), home.environment());
    EXPECT_EQ(walk.status, 0) << walk.out << walk.err << "\nThe program said:\n" << test::readFile(home.work("program.log"));
}

} // namespace
} // namespace qm::e2e
