#pragma once
// Debian's dunst as the desktop's notification service, on a private session bus and an
// Xvfb display of its own (the script notification-desktop beside this file), ended
// with the object or with the test process. What programs sent is read back from
// dunst's history.
#include "TempDir.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <sys/types.h>
#include <vector>

// At the top of a test that needs it: skips the test where a package is missing, and
// fails it under CI, which installs them with the test packages.
#define QM_NEED_NOTIFICATION_DESKTOP()                                                                                 \
    if (const std::string missing = ::qm::test::NotificationDesktop::unavailable(); !missing.empty()) {                \
        if (std::getenv("CI"))                                                                                         \
            FAIL() << missing;                                                                                         \
        GTEST_SKIP() << missing;                                                                                       \
    }

namespace qm::test {

class NotificationDesktop {
public:
    struct Received {
        std::string appname;
        std::string summary;
        std::string body;
        bool critical = false; // urgency critical, else normal
        bool operator==(const Received&) const = default;
    };

    // Empty when dbus-daemon, Xvfb and dunst are installed; else what is missing.
    static std::string unavailable();

    // Starts all three and waits until dunst serves; throws std::runtime_error otherwise.
    NotificationDesktop();
    ~NotificationDesktop();
    NotificationDesktop(const NotificationDesktop&) = delete;
    NotificationDesktop& operator=(const NotificationDesktop&) = delete;

    // The bus, as DBUS_SESSION_BUS_ADDRESS gives it.
    const std::string& busAddress() const { return address_; }
    // Every notification received, oldest first; those still shown are closed, as
    // reading the history needs.
    std::vector<Received> received() const;
    // Waits until `count` notifications are shown (10 s at most); whether they are.
    bool shows(std::size_t count) const;
    // Takes the default action of the first shown, as a click on it does.
    void open() const;

private:
    // What dunstctl needs to find dunst.
    std::vector<std::string> environment() const;

    TempDir dir_;
    pid_t pid_ = -1;
    int toScript_ = -1; // closing it ends the desktop
    std::string address_;
};

} // namespace qm::test
