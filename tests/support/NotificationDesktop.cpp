#include "NotificationDesktop.h"

#include "ProgramRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qm::test {

namespace {

// The history's timeout of a critical notification: notification-desktop's dunstrc.
constexpr qint64 kCriticalTimeoutUs = 103'000'000;

} // namespace

std::string NotificationDesktop::unavailable()
{
    std::string missing;
    for (const char* tool : {"/usr/bin/dbus-daemon", "/usr/bin/Xvfb", "/usr/bin/dunst", "/usr/bin/dunstctl"})
        if (::access(tool, X_OK) != 0)
            missing += std::string(missing.empty() ? "" : ", ") + tool;
    return missing.empty() ? "" : "not installed: " + missing + " (the Makefile's test packages bring them)";
}

NotificationDesktop::NotificationDesktop()
{
    if (const std::string missing = unavailable(); !missing.empty())
        throw std::runtime_error(missing);
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("notification desktop: pipe");
    std::string script = QM_NOTIFICATION_DESKTOP;
    std::string folder = dir_.path();
    char* argv[] = {script.data(), folder.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    toScript_ = in[1];
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("notification desktop: cannot start " + script);
    }
    for (int tries = 0; tries < 200 && address_.empty(); ++tries) {
        if (exists(dir_.file("address")))
            address_ = readFile(dir_.file("address"));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (address_.empty())
        throw std::runtime_error("dunst did not come up within 10 s:\n" + readFile(dir_.file("dunst.log")));
    address_.pop_back(); // the line end
}

std::vector<std::string> NotificationDesktop::environment() const
{
    return {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + address_};
}

NotificationDesktop::~NotificationDesktop()
{
    ::close(toScript_);
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
}

bool NotificationDesktop::shows(std::size_t count) const
{
    for (int tries = 0; tries < 100; ++tries) {
        const ProgramOutcome shown
            = runProgram("/usr/bin/dunstctl", {"count", "displayed"}, dir_.path(), environment());
        if (std::strtoul(shown.out.c_str(), nullptr, 10) >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void NotificationDesktop::open() const
{
    runProgram("/usr/bin/dunstctl", {"action", "0"}, dir_.path(), environment());
}

std::vector<NotificationDesktop::Received> NotificationDesktop::received() const
{
    runProgram("/usr/bin/dunstctl", {"close-all"}, dir_.path(), environment());
    const ProgramOutcome history = runProgram("/usr/bin/dunstctl", {"history"}, dir_.path(), environment());
    const QJsonArray items = QJsonDocument::fromJson(QByteArray::fromStdString(history.out))
                                 .object()[QStringLiteral("data")]
                                 .toArray()[0]
                                 .toArray();
    std::vector<std::pair<int, Received>> byId;
    for (const auto& item : items) {
        const QJsonObject fields = item.toObject();
        auto field = [&fields](const char* name) { return fields[QLatin1String(name)][QStringLiteral("data")]; };
        byId.push_back({field("id").toInt(),
            {field("appname").toString().toStdString(), field("summary").toString().toStdString(),
                field("body").toString().toStdString(), field("timeout").toInteger() == kCriticalTimeoutUs}});
    }
    std::sort(byId.begin(), byId.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Received> all;
    for (auto& [id, received] : byId)
        all.push_back(std::move(received));
    return all;
}

} // namespace qm::test
