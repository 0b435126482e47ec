#pragma once
// A transport that plays a response cut into given pieces and records what the
// exchange asked of it; no network, no waiting.
#include "service/Transport.h"

#include <algorithm>
#include <deque>
#include <string>

namespace qm::test {

class ScriptedTransport : public Transport {
public:
    struct Log {
        std::string host;
        int port = 0;
        int timeoutMs = 0;
        std::string sent;
        std::size_t largestAsk = 0;
        bool closed = false;
    };
    ScriptedTransport(std::deque<std::string> pieces, Log& log)
        : pieces_(std::move(pieces))
        , log_(log)
    {
    }
    void connect(const std::string& host, int port, int timeoutMs) override
    {
        log_.host = host;
        log_.port = port;
        log_.timeoutMs = timeoutMs;
    }
    void send(std::string_view bytes, int) override { log_.sent += bytes; }
    Received receive(char* buffer, std::size_t capacity, ReceivePace&) override
    {
        log_.largestAsk = std::max(log_.largestAsk, capacity);
        if (pieces_.empty())
            return {0, false};
        std::string& piece = pieces_.front();
        const std::size_t n = std::min(capacity, piece.size());
        std::copy_n(piece.data(), n, buffer);
        piece.erase(0, n);
        if (piece.empty())
            pieces_.pop_front();
        return {n, false};
    }
    void close() override { log_.closed = true; }

private:
    std::deque<std::string> pieces_;
    Log& log_;
};

} // namespace qm::test
