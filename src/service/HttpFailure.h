#pragma once
// The main window's reactions to a response with status 400 or more and to a server
// certificate that TLS refused.
#include "core/Reporter.h"
#include "platform/Errors.h"
#include "platform/Prompts.h"
#include "service/HttpExchange.h"

namespace qm {

// Warns with the received body (or, in file mode, the body file's name), logs the same
// text while debugging and sets the HTTP failure flag. The message says GET whatever
// the request was.
void NMHTTPFailure(const HttpExchange& http, Prompts& prompts, Reporter& reporter, bool& failureFlag);

// "Unable to reach " + site + ": " + the error's text, and ": " + the system's reason
// when the text does not carry it already ("Unable to reach Skarvelin: Connection
// Failed: Connection refused", "Unable to reach Vantoreal: Certificate verification
// failed: certificate has expired"): one line, wherever it is told.
std::string unreachableText(std::string_view site, const std::exception& error);

// Makes a host that could not be reached known whatever the debug setting: the text goes
// to the status line and the debug log, and in update mode to standard error, unless a
// message box (`shown`, which without a display is standard error too) has carried it
// already.
void tellUnreachable(Reporter& reporter, const std::string& text, bool shown);

} // namespace qm
