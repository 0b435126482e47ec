#include "service/ResponseHead.h"

#include <algorithm>
#include <cctype>
#include <charconv>

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
        std::string_view rest = line.substr(15);
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        std::int64_t length = 0;
        if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest.front()))) {
            fields.contentLength = -1;
            return;
        }
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), length);
        fields.contentLength = ec == std::errc() ? length : -1;
        (void)end;
    }
}

bool endsHead(std::string_view line)
{
    return line.empty() || line == "\n" || line == "\r\n";
}

} // namespace qm
