// The window as a screen reader meets it, through the real accessibility bus:
// accessibility_walk.py holds the table of controls and walks them; here the throw-away
// home, and a local service that drips the catalogue in so that the transfer bar moves.
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

TEST(Accessibility, EveryControlIsNamedAndReachedFromTheKeyboard)
{
    for (const char* file : {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher",
             "/usr/libexec/at-spi2-registryd", "/usr/lib/python3/dist-packages/pyatspi"}) {
        // The Makefile's test packages bring them; CI must not pass without them.
        if (::access(file, F_OK) != 0 && std::getenv("CI"))
            FAIL() << file << " is not installed";
        if (::access(file, F_OK) != 0)
            GTEST_SKIP() << file << " is not installed (the Makefile's test packages bring it)";
    }
    const qm::test::LocalService service({"--slow-id", "1", "--slow-rate", "60000"});
    qm::e2e::UpdateHome home(service);
    home.writeSettings({});
    const qm::test::ProgramOutcome walk = qm::test::runProgram(
        "/usr/bin/python3", {QM_ACCESSIBILITY_WALK, home.program()}, home.work(""), home.environment());
    EXPECT_EQ(walk.status, 0) << walk.out << walk.err << "\nThe program said:\n"
                              << qm::test::readFile(home.work("program.log"));
}
