#pragma once
// The main window's reaction to a response with status 400 or more.
#include "core/Reporter.h"
#include "platform/Prompts.h"
#include "service/HttpExchange.h"

namespace qm {

// Warns with the received body (or, in file mode, the body file's name), logs the same
// text while debugging and sets the HTTP failure flag. The message says GET whatever
// the request was.
void NMHTTPFailure(const HttpExchange& http, Prompts& prompts, Reporter& reporter, bool& failureFlag);

} // namespace qm
