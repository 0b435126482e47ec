#pragma once
// The text of the error a call ends with, for tests that expect one: a socket error's
// own text, an input/output error's behind "IoError: ", "" when the call succeeds.
#include "platform/Errors.h"

#include <string>

namespace qm::test {

template <typename Call> std::string errorOf(Call call)
{
    try {
        call();
    } catch (const SocketError& e) {
        return e.what();
    } catch (const IoError& e) {
        return std::string("IoError: ") + e.what();
    }
    return {};
}

} // namespace qm::test
