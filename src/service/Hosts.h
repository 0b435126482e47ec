#pragma once
// Host names of the two web services, https by default. The environment can point them
// elsewhere (tests and the bundled local service do), as host, host:port, or either with
// an "http://" or "https://" scheme.
#include <string>

namespace qm {

// The catalogue service: login, file names and files.
std::string serviceHost();
// The publisher: minimum version, query lists, help and home pages.
std::string publisherHost();

// "scheme://host[:port]" without a trailing "/": the host setting's own scheme, or
// "http://" for a bare host. Addresses are this followed by their path.
std::string siteAddress(const std::string& host);
std::string serviceAddress();
std::string publisherAddress();

} // namespace qm
