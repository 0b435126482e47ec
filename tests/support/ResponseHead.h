#pragma once
// What a correct reader takes as a response's head, worked out without the exchange.
#include <string>

namespace qm::test {

// The status line and every line after it up to the first empty one (LF or CR LF
// alone); everything when no such line comes; nothing when it does not start "HTT".
inline std::string expectedHead(const std::string& response)
{
    if (!response.starts_with("HTT"))
        return {};
    std::size_t pos = response.find('\n');
    while (pos != std::string::npos) {
        const std::size_t start = pos + 1;
        pos = response.find('\n', start);
        if (pos == start || (pos == start + 1 && response[start] == '\r'))
            return response.substr(0, pos + 1);
    }
    return response;
}

} // namespace qm::test
