#pragma once
// Prompts for a run without a display: each text goes to standard error and every
// question takes the safe answer (No), so an unattended run never waits.
#include "platform/Prompts.h"

#include <cstdio>

namespace qm {

class HeadlessPrompts : public Prompts {
public:
    explicit HeadlessPrompts(std::FILE* out = stderr)
        : out_(out)
    {
    }
    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool confirm(const std::string& text) override;
    bool errorYesNo(const std::string& text) override;
    bool warningYesNo(const std::string& text) override;

private:
    void show(const char* kind, const std::string& text, const char* answer);
    std::FILE* out_;
};

} // namespace qm
