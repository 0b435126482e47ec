// The window through the real accessibility bus: accessibility_walk.py holds the table of
// controls; the service drips the catalogue in so that the transfer bar moves.
#include "UpdateHome.h"

#include <gtest/gtest.h>

TEST(Accessibility, EveryControlIsNamedAndReachedFromTheKeyboard)
{
    QM_NEED_INSTALLED(
        qm::test::notInstalled({"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher",
            "/usr/libexec/at-spi2-registryd", "/usr/lib/python3/dist-packages/pyatspi"}));
    const qm::test::LocalService service({"--slow-id", "1", "--slow-rate", "60000"});
    qm::e2e::UpdateHome home(service);
    home.writeSettings({});
    const qm::test::ProgramOutcome walk = qm::test::runProgram(
        "/usr/bin/python3", {QM_ACCESSIBILITY_WALK, home.program()}, home.work(""), home.environment());
    EXPECT_EQ(walk.status, 0) << walk.out << walk.err << "\nThe program said:\n"
                              << qm::test::readFile(home.work("program.log"));
}
