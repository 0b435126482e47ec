// A response of any bytes, cut into small pieces, through the exchange over a fake
// connection, in memory and in file mode. Whatever arrives: the head is exactly its
// first lines up to the first empty one, the body is what follows it, up to one plain
// announced length (nothing for a reply to HEAD, a 204 or a 304), the cookie and the
// redirect target are their fields' whole values, a blank before a field's colon
// refuses the reply, a status of 400 or more warns once, a body shorter than its
// announced length is an error, and a failed call leaves the earlier files as they
// were, with no temporary.
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

struct HeadModel {
    int status = 0;
    std::int64_t length = -1; // the one plain announced length, else -1
    std::string cookie;
    std::string location;
    bool malformed = false;
};

std::string trimmed(std::string s)
{
    s.erase(0, s.find_first_not_of(" \t"));
    s.erase(s.find_last_not_of(" \t") + 1);
    return s;
}

// The head read by its rules: a line ends at LF with an optional CR before it; a field
// is a name in any case, ":", and a value between optional blanks and tabs.
HeadModel readHead(const std::string& head)
{
    HeadModel model;
    int lengths = 0;
    std::size_t start = 0;
    for (bool first = true; start < head.size(); first = false) {
        std::size_t end = head.find('\n', start);
        end = end == std::string::npos ? head.size() : end + 1;
        std::string line = head.substr(start, end - start);
        start = end;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            const auto a = line.find(' ');
            if (a == std::string::npos)
                continue;
            std::string number = line.substr(a + 1);
            number = number.substr(0, std::min(number.find(' '), number.find('\t')));
            int value = 0;
            const auto [p, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
            model.status = !number.empty() && ec == std::errc() && p == number.data() + number.size() ? value : 0;
            continue;
        }
        const auto colon = line.find_first_of(": \t");
        if (colon == 0 || colon == std::string::npos)
            continue;
        if (line[colon] != ':') {
            const auto next = line.find_first_not_of(" \t", colon);
            model.malformed = model.malformed || (next != std::string::npos && line[next] == ':');
            continue;
        }
        const std::string name = upper(line.substr(0, colon));
        const std::string value = trimmed(line.substr(colon + 1));
        if (name == "SET-COOKIE") {
            model.cookie = trimmed(value.substr(0, value.find(';')));
        } else if (name == "LOCATION") {
            model.location = value.substr(0, 256);
        } else if (name == "CONTENT-LENGTH") {
            // One length only, digits; anything else counts as none.
            std::int64_t length = 0;
            const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
            const bool plain = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos
                && ec == std::errc() && p == value.data() + value.size();
            model.length = plain && ++lengths == 1 ? length : -1;
            if (!plain)
                lengths = 2;
        }
    }
    return model;
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
    const HeadModel model = readHead(head);
    const auto [status, length] = std::pair(model.status, model.length);
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
    // A malformed head is refused whatever else it says, and stores nothing.
    FUZZ_CHECK((error == "Malformed response head") == model.malformed);
    if (model.malformed) {
        if (fileMode)
            FUZZ_CHECK(readBytes(dir + "body.txt") == "old body" && readBytes(dir + "header.txt") == "old head");
        return 0;
    }
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
    FUZZ_CHECK(http.responseCookie() == model.cookie);
    FUZZ_CHECK(http.redirectTarget() == model.location);
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
