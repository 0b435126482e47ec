#pragma once
// Debian's squid as the HTTP proxy of whole runs: a child of the test on a free port of
// 127.0.0.1, Basic authentication against a password file made with htpasswd, requests
// allowed to that one user only, nothing cached. Its configuration, logs and pid file
// lie in its own folder, so nothing under /var is touched; run as root it drops to its
// own user, which that folder lets in. Each test starts its own, so that parallel tests
// neither share a port nor mix their access logs. A watcher between the test and squid
// ends squid when the test process goes, however it goes.
#include "TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::test {

class SquidProxy {
public:
    // The one account the proxy lets through; the password holds what Basic credentials
    // must carry intact (a colon, an "@", a blank).
    static constexpr const char* kUser = "watcher";
    static constexpr const char* kPassword = "pr0xy:p@ss w";

    // Empty when squid, its Basic helper and htpasswd are installed; else what is missing.
    static std::string unavailable();

    // Starts squid and waits until it listens; throws std::runtime_error naming squid's
    // own complaint when it does not come up.
    SquidProxy();
    ~SquidProxy();
    SquidProxy(const SquidProxy&) = delete;
    SquidProxy& operator=(const SquidProxy&) = delete;

    int port() const { return port_; }
    // Ends squid and waits for it, so that its logs are complete. Called again, nothing.
    void stop();
    // One line per request squid handled: "<user> <method> <URL> <status>", the user
    // as squid's authentication knows it ("-" when none).
    std::vector<std::string> accessLog() const;
    // What squid said about itself (cache.log), for failure messages.
    std::string cacheLog() const;

private:
    // Starts squid on `port`; false when the port was taken before squid could bind it.
    bool startOn(int port);

    TempDir dir_;
    int port_ = 0;
    pid_t watcher_ = -1;
    int toWatcher_ = -1; // closing it ends squid
};

} // namespace qm::test
