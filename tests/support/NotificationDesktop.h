#pragma once
// Debian's dunst as the desktop's notification service, on a private session bus and an
// Xvfb display of its own, ended with the object or with the test: the script
// notification-desktop beside this file, which also reads dunst's history.
#include "ProgramRun.h"
#include "TempDir.h"

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::test {

class NotificationDesktop {
public:
    // Empty when dbus-daemon, Xvfb and dunst are installed; else what is missing.
    static std::string unavailable()
    {
        return notInstalled({"/usr/bin/dbus-daemon", "/usr/bin/Xvfb", "/usr/bin/dunst", "/usr/bin/dunstctl"});
    }
    // Starts all three; throws std::runtime_error when dunst does not come up.
    NotificationDesktop();
    ~NotificationDesktop();
    NotificationDesktop(const NotificationDesktop&) = delete;
    NotificationDesktop& operator=(const NotificationDesktop&) = delete;

    // As DBUS_SESSION_BUS_ADDRESS gives it.
    const std::string& busAddress() const { return address_; }
    // Every notification received, oldest first, one line each: "application | summary |
    // body | urgency"; those shown are closed, as reading the history needs.
    std::string received() const { return script({"received", dir_.path()}).out; }
    // Whether `count` notifications are shown within 10 s.
    bool shows(std::size_t count) const { return script({"shows", dir_.path(), std::to_string(count)}).status == 0; }
    // The default action of the first shown, as a click on it takes it.
    void open() const { script({"open", dir_.path()}); }

private:
    ProgramOutcome script(const std::vector<std::string>& arguments) const;

    TempDir dir_;
    pid_t pid_ = -1;
    std::string address_;
};

} // namespace qm::test
