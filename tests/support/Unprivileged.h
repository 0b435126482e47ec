#pragma once
// Root writes into read-only folders, so a test of a refused write runs its check in a
// child process that has dropped to an unprivileged user when the tests run as root
// (as CI does). Elsewhere the check runs in place.
#include <functional>
#include <string>

namespace qm::test {

// Runs `check`, which returns an empty text when it passed or what went wrong.
// Returns that text ("" = passed).
std::string runUnprivileged(const std::function<std::string()>& check);

// Lets an unprivileged user reach `path` (a test folder) through its parents.
void openUpForOthers(const std::string& path);

} // namespace qm::test
