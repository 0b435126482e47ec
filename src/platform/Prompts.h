#pragma once
// Every question or message to the user goes through this interface, so that tests
// script the answers and an unattended run never waits for a click.
#include <string>

namespace qm {

class Prompts {
public:
    virtual ~Prompts() = default;
    // Error icon, single OK button.
    virtual void error(const std::string& text) = 0;
    // Warning icon, single OK button.
    virtual void warning(const std::string& text) = 0;
    // Question with Yes and No; true means Yes.
    virtual bool confirm(const std::string& text) = 0;
    // Error icon with Yes and No; true means Yes.
    virtual bool errorYesNo(const std::string& text) = 0;
    // Warning icon with Yes and No; true means Yes.
    virtual bool warningYesNo(const std::string& text) = 0;
};

} // namespace qm
