#include "service/HttpFailure.h"

namespace qm {

void NMHTTPFailure(const HttpExchange& http, Prompts& prompts, Reporter& reporter, bool& failureFlag)
{
    const std::string text = "GET command \"" + http.Body + "\" failed.";
    prompts.warning(text);
    reporter.log(text);
    failureFlag = true;
}

} // namespace qm
