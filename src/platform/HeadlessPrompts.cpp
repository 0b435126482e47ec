#include "platform/HeadlessPrompts.h"

namespace qm {

void HeadlessPrompts::show(const char* kind, const std::string& text, const char* answer)
{
    std::fprintf(out_, "quillmaren: %s: %s [%s]\n", kind, text.c_str(), answer);
    std::fflush(out_);
}

void HeadlessPrompts::error(const std::string& text)
{
    show("error", text, "OK");
}
void HeadlessPrompts::warning(const std::string& text)
{
    show("warning", text, "OK");
}

bool HeadlessPrompts::confirm(const std::string& text)
{
    show("question", text, "No");
    return false;
}

bool HeadlessPrompts::errorYesNo(const std::string& text)
{
    show("error", text, "No");
    return false;
}

bool HeadlessPrompts::warningYesNo(const std::string& text)
{
    show("warning", text, "No");
    return false;
}

} // namespace qm
