#include "service/ResponseHead.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace qm {

namespace {

std::string_view withoutLineEnd(std::string_view s)
{
    if (s.ends_with('\n'))
        s.remove_suffix(1);
    if (s.ends_with('\r'))
        s.remove_suffix(1);
    return s;
}

bool firstWordIs(std::string_view line, std::string_view upperWord)
{
    const std::string_view word = line.substr(0, line.find(' '));
    return word.size() == upperWord.size()
        && std::equal(word.begin(), word.end(), upperWord.begin(),
            [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// Blanks, decimal digits that fit a signed 64-bit number, blanks; nullopt otherwise.
std::optional<std::int64_t> plainLength(std::string_view value)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && isBlank(value.back()))
        value.remove_suffix(1);
    if (value.empty() || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t length = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (ec != std::errc() || end != value.data() + value.size())
        return std::nullopt;
    return length;
}

} // namespace

int statusOfLine(std::string_view line)
{
    const auto first = line.find(' ');
    if (first == std::string_view::npos)
        return 0;
    std::string_view text = line.substr(first + 1);
    const auto second = text.find(' ');
    text = second == std::string_view::npos ? withoutLineEnd(text) : text.substr(0, second);
    int status = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), status);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return 0;
    return status;
}

void readHeadLine(std::string_view line, ResponseFields& fields)
{
    if (firstWordIs(line, "SET-COOKIE:")) {
        constexpr std::size_t start = 12;
        const auto semicolon = line.find(';');
        std::size_t end = semicolon != std::string_view::npos ? semicolon : (line.size() >= 2 ? line.size() - 2 : 0);
        fields.cookie = end > start ? std::string(line.substr(start, end - start)) : std::string();
    } else if (firstWordIs(line, "LOCATION:")) {
        constexpr std::size_t start = 10;
        std::string_view value = line.size() > start ? line.substr(start, 256) : std::string_view();
        value.remove_suffix(std::min<std::size_t>(2, value.size()));
        fields.location = std::string(value);
    } else if (firstWordIs(line, "CONTENT-LENGTH:")) {
        // A length given twice, or one that is not a plain number, describes no body
        // that can be told from another: the body then runs until the server closes.
        const std::optional<std::int64_t> length = plainLength(withoutLineEnd(line.substr(15)));
        const bool repeated = fields.contentLength >= 0 || fields.contentLengthMalformed;
        if (!length || repeated) {
            fields.contentLength = -1;
            fields.contentLengthMalformed = true;
            return;
        }
        fields.contentLength = *length;
    } else if (firstWordIs(line, "TRANSFER-ENCODING:")) {
        fields.transferEncoded = true;
    }
}

bool endsHead(std::string_view line)
{
    return line.empty() || line == "\n" || line == "\r\n";
}

} // namespace qm
