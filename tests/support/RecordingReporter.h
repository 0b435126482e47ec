#pragma once
// A reporter that keeps the log lines (without time stamps) and the status texts.
#include "core/Reporter.h"

#include <string>
#include <vector>

namespace qm::test {

class RecordingReporter : public Reporter {
public:
    explicit RecordingReporter(bool debug = true)
        : debug_(debug)
    {
    }
    bool debugOn() const override { return debug_; }
    void outputToLog(std::string_view msg) override { logLines.emplace_back(msg); }
    void updateStatusBar(std::string_view msg) override
    {
        status = std::string(msg);
        statusHistory.push_back(status);
        if (debug_)
            outputToLog(msg);
    }
    void setStatusText(std::string_view msg) override
    {
        status = std::string(msg);
        statusHistory.push_back(status);
    }
    std::string trayHint() const override { return hint; }
    void unattendedNotice(std::string_view msg) override { notices.emplace_back(msg); }

    void setDebug(bool on) { debug_ = on; }
    bool logged(std::string_view line) const
    {
        for (const auto& l : logLines)
            if (l == line)
                return true;
        return false;
    }

    std::vector<std::string> logLines;
    std::vector<std::string> statusHistory;
    std::vector<std::string> notices;
    std::string status;
    std::string hint = std::string(kProgramTitle);

private:
    bool debug_;
};

} // namespace qm::test
