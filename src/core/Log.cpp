#include "core/Log.h"

#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fnmatch.h>
#include <sys/stat.h>

namespace qm {

std::string formatLogTimeStamp(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    const std::time_t seconds
        = system_clock::to_time_t(time_point_cast<system_clock::duration>(floor<std::chrono::seconds>(when)));
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[96];
    std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", local.tm_year + 1900, local.tm_mon + 1,
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms));
    return text;
}

LogFile::LogFile()
    : clock_([] { return std::chrono::system_clock::now(); })
{
}

LogFile::LogFile(Clock clock)
    : clock_(std::move(clock))
{
}

void LogFile::create(const std::string& path)
{
    file_.open(path, File::Mode::Create);
    offset_ = 0;
}

void LogFile::write(std::string_view message)
{
    if (!file_.isOpen())
        return;
    std::string line = formatLogTimeStamp(clock_());
    line += message;
    line += "\r\n";
    file_.writeAt(offset_, line.data(), line.size());
    offset_ += line.size();
}

void LogFile::close()
{
    if (file_.isOpen())
        file_.close();
}

AppReporter::AppReporter(std::function<void(std::string_view)> statusLine, std::function<std::string()> trayHint)
    : statusLine_(std::move(statusLine))
    , trayHint_(std::move(trayHint))
{
}

void AppReporter::outputToLog(std::string_view msg)
{
    log_.write(msg);
}

void AppReporter::updateStatusBar(std::string_view msg)
{
    setStatusText(msg);
    if (debugOn_)
        outputToLog(msg);
}

void AppReporter::setStatusText(std::string_view msg)
{
    if (statusLine_)
        statusLine_(msg);
}

std::string AppReporter::trayHint() const
{
    return trayHint_ ? trayHint_() : std::string();
}

void AppReporter::unattendedNotice(std::string_view msg)
{
    runFailing(RunOutcome::EndedEarly, msg);
    if (!unattended_)
        return;
    std::fprintf(unattended_, "quillmaren: %.*s\n", static_cast<int>(msg.size()), msg.data());
    std::fflush(unattended_);
}

void AppReporter::runFailing(RunOutcome how, std::string_view reason)
{
    if (failureListener_)
        failureListener_(how, reason);
}

void PrepareDirectory(Reporter& reporter, const std::string& path)
{
    reporter.log("Checking directory: " + path);
    if (directoryExists(path)) {
        reporter.log("Directory exists: " + path);
        return;
    }
    reporter.log("Directory does not exist: " + path);
    reporter.log("Attempting to create directory: " + path);
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (!folder.empty() && ::mkdir(folder.c_str(), 0777) == 0) {
        reporter.log("Created directory: " + path);
        return;
    }
    reporter.log("Unable to create directory: " + path);
    throw FatalStop{"Unable to create directory: " + path};
}

void Delete_Files(const std::string& mask)
{
    const std::string folder = extractFilePath(mask);
    const std::string pattern = extractFileName(mask);
    for (const auto& name : listDirectory(folder))
        if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0)
            removeFile(folder + name);
}

} // namespace qm
