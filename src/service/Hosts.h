#pragma once
// Where the two web services are. The environment can point them elsewhere (tests and the
// bundled local service do): `host`, `host:port`, `https://host[:port]` or
// `http://host[:port]`; a bare host means http.
#include <string>
#include <string_view>

namespace qm {

// Scheme and host of a service, without a trailing "/": "https://www.skarvelin.example",
// "http://127.0.0.1:8080".
std::string serviceBase(); // the catalogue service: login, file names and files
std::string publisherBase(); // the publisher: minimum version, query lists, help and home pages

// The base followed by `path` (which starts with "/"), ready for the exchange or a link.
std::string serviceUrl(std::string_view path);
std::string publisherUrl(std::string_view path);

// How one host setting reads as a base.
std::string hostBase(std::string_view setting);

} // namespace qm
