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

// "Unable to reach " + site, and for a refused certificate ": " + the exchange's text,
// which names the reason ("Unable to reach Vantoreal: Certificate verification failed:
// certificate has expired"): one line, wherever it is told.
std::string unreachableText(std::string_view site, const SocketError& error);

// Makes a refused certificate known whatever the debug setting: the text goes to the
// status line and the debug log, and in update mode to standard error, unless a message
// box (`shown`, which without a display is standard error too) has carried it already.
void tellRefusedCertificate(Reporter& reporter, const std::string& text, bool shown);

} // namespace qm
