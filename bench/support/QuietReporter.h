#pragma once
// Benchmarks time the work, not the reporting: a reporter that reports nothing.
#include "core/Reporter.h"

namespace qm::bench {

class QuietReporter : public Reporter {
public:
    bool debugOn() const override { return false; }
    void outputToLog(std::string_view) override { }
    void updateStatusBar(std::string_view) override { }
    void setStatusText(std::string_view) override { }
    std::string trayHint() const override { return std::string(kProgramTitle); }
};

} // namespace qm::bench
