#include "service/ResponseHead.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace qm {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A line ends at LF, with an optional CR before it.
std::string_view withoutLineEnd(std::string_view s)
{
    if (s.ends_with('\n'))
        s.remove_suffix(1);
    if (s.ends_with('\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view withoutBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view name, std::string_view upperName)
{
    return name.size() == upperName.size()
        && std::equal(name.begin(), name.end(), upperName.begin(),
            [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// Decimal digits that fit a signed 64-bit number; nullopt otherwise.
std::optional<std::int64_t> plainLength(std::string_view value)
{
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
    const std::string_view text = withoutLineEnd(line);
    const auto first = text.find(' ');
    if (first == std::string_view::npos)
        return 0;
    std::string_view code = text.substr(first + 1);
    code = code.substr(0, code.find_first_of(" \t"));
    int status = 0;
    const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
    if (code.empty() || ec != std::errc() || end != code.data() + code.size())
        return 0;
    return status;
}

void readHeadLine(std::string_view line, ResponseFields& fields)
{
    const std::string_view text = withoutLineEnd(line);
    // The name runs up to the colon; a line that starts with a blank continues the
    // one before it and names no field.
    const auto nameEnd = text.find_first_of(": \t");
    if (nameEnd == 0 || nameEnd == std::string_view::npos)
        return;
    if (text[nameEnd] != ':') {
        // Blanks between a name and its colon are no HTTP: readers that take the field
        // and readers that do not would see two different replies.
        const auto next = text.find_first_not_of(" \t", nameEnd);
        if (next != std::string_view::npos && text[next] == ':')
            throw MalformedResponse();
        return;
    }
    const std::string_view name = text.substr(0, nameEnd);
    const std::string_view value = withoutBlanks(text.substr(nameEnd + 1));
    if (sameName(name, "SET-COOKIE")) {
        fields.cookie = std::string(withoutBlanks(value.substr(0, value.find(';'))));
    } else if (sameName(name, "LOCATION")) {
        fields.location = std::string(value.substr(0, ResponseFields::kMaxLocation));
    } else if (sameName(name, "CONTENT-LENGTH")) {
        // A length given twice, or one that is not a plain number, describes no body
        // that can be told from another: the body then runs until the server closes.
        const std::optional<std::int64_t> length = plainLength(value);
        const bool repeated = fields.contentLength >= 0 || fields.contentLengthMalformed;
        if (!length || repeated) {
            fields.contentLength = -1;
            fields.contentLengthMalformed = true;
            return;
        }
        fields.contentLength = *length;
    } else if (sameName(name, "TRANSFER-ENCODING")) {
        fields.transferEncoded = true;
    }
}

bool endsHead(std::string_view line)
{
    return line.empty() || line == "\n" || line == "\r\n";
}

} // namespace qm
