#include "service/CriticalUpdate.h"

#include "core/Version.h"
#include "platform/Errors.h"
#include "platform/Halt.h"
#include "service/Hosts.h"
#include "service/HttpFailure.h"

#include <charconv>
#include <string>

namespace qm {

namespace {

int integerValue(std::string_view word)
{
    std::string_view digits = word;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    int value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end)
        throw ConvertError("'" + std::string(word) + "' is not a valid integer value");
    return value;
}

} // namespace

std::int64_t VersionNumber(std::string_view version)
{
    std::int64_t number = 0;
    std::size_t pos = 0;
    for (const std::int64_t weight : {10000, 100, 1}) {
        while (pos < version.size() && (version[pos] == '.' || version[pos] == ' '))
            ++pos;
        const std::size_t start = pos;
        while (pos < version.size() && version[pos] != '.' && version[pos] != ' ')
            ++pos;
        number += weight * integerValue(version.substr(start, pos - start));
    }
    return number;
}

bool CheckForCriticalUpdate(HttpExchange& http, Reporter& reporter, Prompts& prompts, bool stopOnErrors,
    const std::function<void()>& onlineHelp, const std::function<bool()>& ending)
{
    // The publisher's host must not see the catalogue service's session.
    http.Cookie.clear();
    http.InputFileMode = false;
    reporter.updateStatusBar("Checking Vantoreal for critical update");
    try {
        http.Get(publisherAddress() + "/Skarvelin/criticalupdate.txt");
    } catch (const SocketError& e) {
        // A wait given up because the program ends is no news to the user.
        if (haltRequested() || (ending && ending()))
            throw;
        const std::string text = unreachableText("Vantoreal", e);
        reporter.runFailing(RunOutcome::EndedEarly, text);
        if (stopOnErrors)
            prompts.error(text);
        tellUnreachable(reporter, text, stopOnErrors);
        return false;
    }

    const std::string required = http.Body;
    const std::int64_t program = VersionNumber(kVersionText);
    if (VersionNumber(required) <= program)
        return true;

    const std::string line = "Critical update required! Version " + required + " or later is required.";
    reporter.runFailing(RunOutcome::Halted, line);
    prompts.error("Critical update required!\nVersion " + required + " or later is required.\n"
        + "Please download the latest version now.");
    reporter.log(line);
    if (onlineHelp)
        onlineHelp();
    throw FatalStop{"Critical update required", true, 0, false};
}

} // namespace qm
