// A response of any bytes, cut into small pieces, through the exchange over a fake
// connection, in memory and in file mode. Whatever arrives: the head is exactly its
// first lines up to the first empty one, the body is what follows it, up to one plain
// announced length (nothing for a reply to HEAD, a 204 or a 304), a status of 400 or
// more warns once, a body shorter than its announced length is an error, and a failed
// call leaves the earlier files as they were, with no temporary.
#include "platform/Errors.h"
#include "service/HttpExchange.h"

#include "FuzzSupport.h"
#include "ResponseHead.h"
#include "ScriptedTransport.h"

#include <cctype>
#include <charconv>

using namespace qm;
using namespace qm::fuzz;

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The status and the last announced length, read from the head by its rules.
void readHead(const std::string& head, int& status, std::int64_t& length)
{
    status = 0;
    length = -1;
    int lengths = 0;
    std::size_t start = 0;
    for (bool first = true; start < head.size(); first = false) {
        std::size_t end = head.find('\n', start);
        end = end == std::string::npos ? head.size() : end + 1;
        const std::string line = head.substr(start, end - start);
        start = end;
        if (first) {
            const auto a = line.find(' ');
            if (a == std::string::npos)
                continue;
            std::string number = line.substr(a + 1);
            const auto b = number.find(' ');
            if (b != std::string::npos)
                number.erase(b);
            else {
                // Without a second blank the line end goes: one LF, then one CR.
                if (!number.empty() && number.back() == '\n')
                    number.pop_back();
                if (!number.empty() && number.back() == '\r')
                    number.pop_back();
            }
            int value = 0;
            const auto [p, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
            status = !number.empty() && ec == std::errc() && p == number.data() + number.size() ? value : 0;
        } else if (upper(line.substr(0, line.find(' '))) == "CONTENT-LENGTH:") {
            // One length only, digits between blanks; anything else counts as none.
            std::string rest = line.substr(15);
            if (!rest.empty() && rest.back() == '\n')
                rest.pop_back();
            if (!rest.empty() && rest.back() == '\r')
                rest.pop_back();
            rest.erase(0, rest.find_first_not_of(" \t"));
            rest.erase(rest.find_last_not_of(" \t") + 1);
            std::int64_t value = 0;
            const auto [p, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
            const bool plain = !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos
                && ec == std::errc() && p == rest.data() + rest.size();
            length = plain && ++lengths == 1 ? value : -1;
            if (!plain)
                lengths = 2;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const unsigned choice = in.byte();
    const std::size_t piece = 1 + (choice & 15);
    const bool fileMode = (choice & 16) != 0;
    const char* method = (choice & 32) ? "HEAD" : (choice & 64) ? "POST" : "GET";
    const std::string response(in.rest());

    std::deque<std::string> pieces;
    for (std::size_t at = 0; at < response.size(); at += piece)
        pieces.push_back(response.substr(at, piece));

    HttpExchange http;
    test::ScriptedTransport::Log log;
    int failures = 0;
    http.OnFailure = [&](std::string_view) { ++failures; };
    // Every connection, redirects included, gets the same response.
    http.setTransportFactory(
        [&](const std::string&) { return std::make_unique<test::ScriptedTransport>(pieces, log); });
    const std::string& dir = WorkDir::instance().fresh();
    if (fileMode) {
        http.InputFileMode = true;
        http.Header = dir + "header.txt";
        http.Body = dir + "body.txt";
        writeBytes(http.Header, "old head");
        writeBytes(http.Body, "old body");
    }

    std::string error;
    try {
        if (method[0] == 'H')
            http.Head("http://h/d/f.txt");
        else if (method[0] == 'P')
            http.Post("http://h/d/f.txt", "u=a");
        else
            http.Get("http://h/d/f.txt");
    } catch (const SocketError& e) {
        error = e.what();
    }
    FUZZ_CHECK(!http.busy());

    const std::string head = qm::test::expectedHead(response);
    const std::string rest = response.substr(head.size());
    int status = 0;
    std::int64_t length = -1;
    readHead(head, status, length);
    // A redirect is followed by a GET of the same response, so even a HEAD's redirect
    // ends up judged as a GET.
    const bool redirect = status >= 300 && status <= 302;
    const bool noBody = !head.empty() && ((method[0] == 'H' && !redirect) || status == 204 || status == 304);
    const std::int64_t bodyLength = noBody ? 0 : length;
    const bool cut = bodyLength >= 0 && static_cast<std::int64_t>(rest.size()) < bodyLength;
    const std::string body = bodyLength >= 0 ? rest.substr(0, static_cast<std::size_t>(bodyLength)) : rest;

    if (fileMode) {
        FUZZ_CHECK(!anyEndsWith(namesIn(dir), ".part"));
        FUZZ_CHECK((namesIn(dir) == std::vector<std::string>{"body.txt", "header.txt"}));
    }
    const std::uint64_t limit = fileMode ? HttpExchange::kMaxFileBodyBytes : HttpExchange::kMaxMemoryBodyBytes;
    const bool tooLarge = bodyLength > 0 && static_cast<std::uint64_t>(bodyLength) > limit;
    if (!error.empty()) {
        FUZZ_CHECK(error == "Incomplete response" || error == "Too many redirects" || error == "Response too large");
        FUZZ_CHECK(error != "Incomplete response" || (cut && !tooLarge));
        FUZZ_CHECK(error != "Response too large" || tooLarge);
        FUZZ_CHECK(error != "Too many redirects" || redirect);
        // A body that failed leaves the file as the call before it left it: the earlier
        // file, or the empty body of a HEAD whose redirect failed.
        const bool bodyFailed = error != "Too many redirects";
        if (fileMode)
            FUZZ_CHECK(readBytes(dir + "body.txt") == (bodyFailed ? (method[0] == 'H' ? "" : "old body") : body));
        return 0;
    }
    FUZZ_CHECK(!tooLarge);
    FUZZ_CHECK(!cut);
    FUZZ_CHECK(http.statusCode() == status);
    FUZZ_CHECK(http.contentLength() == length);
    // Bytes past the announced length are seen only when they share a piece with its
    // last byte: the exchange stops reading once the body is complete.
    const std::size_t bodyEnd = head.size() + static_cast<std::size_t>(std::max<std::int64_t>(length, 0));
    const bool excessSeen = bodyEnd < response.size() && bodyEnd % piece != 0;
    FUZZ_CHECK(http.bodyOverran() == (!noBody && length >= 0 && excessSeen));
    FUZZ_CHECK(failures == (status >= 400 ? 1 : 0));
    FUZZ_CHECK((fileMode ? readBytes(dir + "header.txt") : http.Header) == head);
    FUZZ_CHECK((fileMode ? readBytes(dir + "body.txt") : http.Body) == body);
    return 0;
}
