#pragma once
// A loopback publisher: the writers' fetches go to it while it lives.
#include "LoopbackServer.h"

#include <cstdlib>
#include <string>

namespace qm::test {

class Publisher {
public:
    Publisher()
    {
        if (const char* old = std::getenv(kVariable))
            saved_ = old, hadValue_ = true;
        ::setenv(kVariable, server_.hostPort().c_str(), 1);
    }
    ~Publisher()
    {
        if (hadValue_)
            ::setenv(kVariable, saved_.c_str(), 1);
        else
            ::unsetenv(kVariable);
    }
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    std::string host() const { return server_.hostPort(); }
    void reply(int status, const std::string& body)
    {
        server_.enqueue(LoopbackServer::Reply::text("HTTP/1.0 " + std::to_string(status) + " "
            + (status < 400 ? "OK" : "Not Found") + "\r\nContent-Type: text/plain\r\n\r\n" + body));
    }
    // A reply exactly as given, then the connection closes.
    void raw(const std::string& bytes) { server_.enqueue(LoopbackServer::Reply::text(bytes)); }
    std::string lastRequest() const
    {
        const auto all = server_.requests();
        return all.empty() ? std::string() : all.back();
    }

private:
    static constexpr const char* kVariable = "QUILLMAREN_PUBLISHER_HOST";
    LoopbackServer server_;
    std::string saved_;
    bool hadValue_ = false;
};

} // namespace qm::test
