// URL splitting, redirect targets and the request head built from them: a URL put
// together again from its parts splits into the same parts, a relative redirect stays
// on its scheme, host and port, and the head is exactly its lines, none of which
// holds a line break of its own.
#include "service/RequestHead.h"
#include "service/Url.h"

#include "FuzzSupport.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

bool sameParts(const UrlParts& a, const UrlParts& b)
{
    return a.fragment == b.fragment && a.scheme == b.scheme && a.userName == b.userName && a.password == b.password
        && a.host == b.host && a.port == b.port && a.portNumber == b.portNumber && a.query == b.query
        && a.parameters == b.parameters && a.fileName == b.fileName && a.directory == b.directory;
}

std::string rebuilt(const UrlParts& p)
{
    std::string user;
    if (!p.userName.empty() || !p.password.empty())
        user = p.userName + (p.password.empty() ? "" : ":" + p.password) + "@";
    return p.scheme + "//" + user + p.host + p.port + p.requestTarget();
}

void checkHead(const std::string& text, std::size_t lineCount)
{
    FUZZ_CHECK(text.ends_with("\r\n\r\n"));
    std::size_t lines = 0;
    for (std::size_t at = 0; at + 2 < text.size(); ++lines) {
        const std::size_t end = text.find("\r\n", at);
        const std::string_view line = std::string_view(text).substr(at, end - at);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        at = end + 2;
    }
    FUZZ_CHECK(lines == lineCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::string url(in.part());
    const std::string target(in.part());
    RequestSettings settings;
    settings.cookie = std::string(in.part());
    if (in.byte() & 1)
        settings.proxy = "proxy.example";
    settings.userAgent = "Quillmaren v1.5.8";

    const UrlParts parts = splitUrl(url);
    FUZZ_CHECK(parts.fragment.empty() || parts.fragment.front() == '#');
    FUZZ_CHECK(parts.query.empty() || parts.query.front() == '?');
    FUZZ_CHECK(parts.parameters.empty() || parts.parameters.front() == ';');
    FUZZ_CHECK(parts.port.empty() || parts.port.front() == ':');
    FUZZ_CHECK(!parts.directory.empty() && parts.directory.front() == '/');
    FUZZ_CHECK(parts.scheme.ends_with(':'));
    FUZZ_CHECK(sameParts(splitUrl(rebuilt(parts)), parts));

    const std::string next = resolveRedirect(parts, target);
    if (target.find("//") != std::string::npos) {
        FUZZ_CHECK(next == target);
    } else {
        const UrlParts to = splitUrl(next);
        FUZZ_CHECK(to.scheme == parts.scheme && to.host == parts.host && to.port == parts.port);
    }

    const std::string body = "u=a&p=b";
    for (const std::string* form : {static_cast<const std::string*>(nullptr), &body}) {
        const RequestHead head = buildRequestHead(form ? "POST" : "GET", url, parts, settings, form);
        const std::vector<std::string> lines = head.lines();
        checkHead(head.text(), lines.size());
        const std::string& first = lines.front();
        FUZZ_CHECK(first.ends_with(" HTTP/1.0"));
        // Method, target and version: blanks in the target went out as "+".
        FUZZ_CHECK(std::count(first.begin(), first.end(), ' ') == 2);
    }
    return 0;
}
