#pragma once
// Host names of the two web services. The environment can point them elsewhere
// (tests and the bundled local service do), as host or host:port.
#include <string>

namespace qm {

// The catalogue service: login, file names and files.
std::string serviceHost();
// The publisher: minimum version, query lists, help and home pages.
std::string publisherHost();

} // namespace qm
