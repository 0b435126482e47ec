#pragma once
// The debug log and the reporter the whole program reports through.
#include "core/Reporter.h"
#include "platform/File.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

// "[yyyy-mm-dd hh:nn:ss.zzz] " in local time.
std::string formatLogTimeStamp(std::chrono::system_clock::time_point when);

// One time-stamped line per call, CR LF ends, each line on disk before the call returns
// so a log survives a crash up to its last event.
class LogFile {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    LogFile();
    explicit LogFile(Clock clock);
    // Creates the file, or empties it when it exists.
    void create(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    void write(std::string_view message);
    void close();

private:
    Clock clock_;
    File file_;
    std::uint64_t offset_ = 0;
};

// The status line and the log behind the Reporter interface. The status line and the
// tray hint belong to the window; they are reached through the two callbacks.
class AppReporter : public Reporter {
public:
    AppReporter(std::function<void(std::string_view)> statusLine, std::function<std::string()> trayHint);

    void setDebugOn(bool on) { debugOn_ = on; }
    // Update mode: unattended notices go to `out` (standard error); nullptr: nowhere.
    void setUnattended(std::FILE* out) { unattended_ = out; }
    LogFile& logFile() { return log_; }
    // Who hears of runs that fail (the notifier of unattended runs).
    void setFailureListener(std::function<void(RunOutcome, std::string_view)> listener)
    {
        failureListener_ = std::move(listener);
    }

    bool debugOn() const override { return debugOn_; }
    void outputToLog(std::string_view msg) override;
    void updateStatusBar(std::string_view msg) override;
    void setStatusText(std::string_view msg) override;
    std::string trayHint() const override;
    void unattendedNotice(std::string_view msg) override;
    void runFailing(RunOutcome how, std::string_view reason) override;

private:
    bool debugOn_ = false;
    std::FILE* unattended_ = nullptr;
    LogFile log_;
    std::function<void(std::string_view)> statusLine_;
    std::function<std::string()> trayHint_;
    std::function<void(RunOutcome, std::string_view)> failureListener_;
};

// Makes sure `path` exists, creating its last level. Logs each step while debug
// logging is on; when the folder cannot be created, raises a fatal stop.
void PrepareDirectory(Reporter& reporter, const std::string& path);

// Deletes every file of the mask's folder (not its subfolders) whose name matches the
// mask's wildcard pattern; an entry that cannot be deleted is skipped.
void Delete_Files(const std::string& mask);

} // namespace qm
