#include "service/LoginForm.h"

namespace qm {

std::string formEncode(std::string_view value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~';
        if (kept) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string loginFields(std::string_view username, std::string_view password)
{
    return "username=" + formEncode(username) + "&password=" + formEncode(password)
        + "&_submitted=1&_sessionid=&_submit=Submit";
}

} // namespace qm
