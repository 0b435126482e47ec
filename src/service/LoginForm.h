#pragma once
// The account as the catalogue service's login form takes it, both in the login POST's
// body and in the login page's address.
#include <string>
#include <string_view>

namespace qm {

// Letters, digits and "-._~" as they stand; every other byte as "%XX" (upper-case hex),
// so that "&", "=", "+", "%", a blank or a non-ASCII byte in an account reaches the
// service as typed.
std::string formEncode(std::string_view value);

// "username=...&password=...&_submitted=1&_sessionid=&_submit=Submit"
std::string loginFields(std::string_view username, std::string_view password);

} // namespace qm
