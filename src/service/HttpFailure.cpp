#include "service/HttpFailure.h"

namespace qm {

void NMHTTPFailure(const HttpExchange& http, Prompts& prompts, Reporter& reporter, bool& failureFlag)
{
    const std::string text = "GET command \"" + http.Body + "\" failed.";
    prompts.warning(text);
    reporter.log(text);
    failureFlag = true;
}

std::string unreachableText(std::string_view site, const std::exception& error)
{
    std::string text = "Unable to reach " + std::string(site) + ": " + error.what();
    if (const auto* socket = dynamic_cast<const SocketError*>(&error); socket && !socket->reason().empty())
        text += ": " + socket->reason();
    return text;
}

void tellUnreachable(Reporter& reporter, const std::string& text, bool shown)
{
    reporter.setStatusText(text);
    reporter.log(text);
    if (!shown)
        reporter.unattendedNotice(text);
}

} // namespace qm
