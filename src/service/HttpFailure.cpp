#include "service/HttpFailure.h"

namespace qm {

void NMHTTPFailure(const HttpExchange& http, Prompts& prompts, Reporter& reporter, bool& failureFlag)
{
    const std::string text = "GET command \"" + http.Body + "\" failed.";
    prompts.warning(text);
    reporter.log(text);
    failureFlag = true;
}

std::string unreachableText(std::string_view site, const SocketError& error)
{
    std::string text = "Unable to reach " + std::string(site);
    if (dynamic_cast<const CertificateError*>(&error))
        text += std::string(": ") + error.what();
    return text;
}

void tellRefusedCertificate(Reporter& reporter, const std::string& text, bool shown)
{
    reporter.setStatusText(text);
    reporter.log(text);
    if (!shown)
        reporter.unattendedNotice(text);
}

} // namespace qm
