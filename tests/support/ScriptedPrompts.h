#pragma once
// Prompts whose answers a test scripts in advance; every prompt shown is recorded.
#include "platform/Prompts.h"

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::test {

class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        std::string kind; // "error", "warning", "confirm", "errorYesNo", "warningYesNo"
        std::string text;
    };

    // Queue the answer of the next Yes/No question.
    void answer(bool yes) { answers_.push_back(yes); }

    void error(const std::string& text) override { show({"error", text}); }
    void warning(const std::string& text) override { show({"warning", text}); }
    bool confirm(const std::string& text) override { return ask("confirm", text); }
    bool errorYesNo(const std::string& text) override { return ask("errorYesNo", text); }
    bool warningYesNo(const std::string& text) override { return ask("warningYesNo", text); }

    std::vector<Shown> shown;
    // Runs while a box is open, before it is answered.
    std::function<void(const Shown&)> whileShown;

private:
    void show(Shown box)
    {
        shown.push_back(box);
        if (whileShown)
            whileShown(box);
    }
    bool ask(const char* kind, const std::string& text)
    {
        show({kind, text});
        if (answers_.empty())
            throw std::logic_error("unscripted question: " + text);
        const bool yes = answers_.front();
        answers_.pop_front();
        return yes;
    }
    std::deque<bool> answers_;
};

} // namespace qm::test
