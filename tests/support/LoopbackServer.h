#pragma once
// A scripted HTTP server on 127.0.0.1 for network tests. It serves connections one after
// another on its own thread: for each it reads the whole request (head and, when a
// Content-Length is given, the body), records the exact bytes, then plays the next
// queued reply. A connection with no reply queued is answered by the handler, if one
// is set, else closed at once.
#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

class LoopbackServer {
public:
    class Reply {
    public:
        // Sends bytes as they stand.
        Reply& send(std::string bytes);
        // Sends n bytes of `c` without holding them (large bodies).
        Reply& fill(std::size_t n, char c = 'x');
        // Waits before the next step.
        Reply& pause(int ms);
        // After the last step, keeps the connection open until the client closes it.
        Reply& holdOpen();
        // After the last step, aborts the connection (the client sees a reset).
        Reply& reset();
        // After the last step, carries bytes both ways between the client and
        // 127.0.0.1:port until either side closes, as a proxy's tunnel does.
        Reply& relayTo(int port);

        // Common replies: the whole text, then close.
        static Reply text(std::string bytes);
        // "HTTP/1.0 200 OK", an empty line and the body, then close.
        static Reply ok(const std::string& body);
        // Accepts and reads the request but never answers.
        static Reply silent();
        // Closes as soon as the request has arrived.
        static Reply closeAtOnce();

    private:
        friend class LoopbackServer;
        struct Step {
            std::string bytes;
            std::size_t fill = 0;
            char fillChar = 'x';
            int delayMs = 0;
        };
        std::vector<Step> steps_;
        bool hold_ = false;
        bool reset_ = false;
        int relayPort_ = 0;
    };

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string hostPort() const;
    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const;

    void enqueue(Reply reply);
    // Answers connections that find the queue empty; runs on the server's thread and
    // gets the request's exact bytes.
    void setHandler(std::function<Reply(const std::string& request)> handler);
    // Takes over every later connection before anything is read from it, for servers that
    // speak something on top (TLS). `sleep` waits ms and says false once the server stops;
    // a stop also shuts the connection down, which ends any wait on it.
    using ConnectionHandler = std::function<void(int fd, const std::function<bool(int ms)>& sleep)>;
    void takeConnections(ConnectionHandler handler);
    // The target of a request line ("/path?query"), for handlers.
    static std::string requestTarget(const std::string& request);
    // The exact bytes of every request received so far, in order.
    std::vector<std::string> requests() const;
    std::size_t connections() const;

    // A port on 127.0.0.1 where nothing listens (connections are refused).
    static int unusedPort();
    // Sends every byte to a socket; false when the peer has gone.
    static bool sendAll(int fd, const char* data, std::size_t n);

private:
    void run();
    void serve(int fd);
    bool readRequest(int fd, std::string& request);
    void relay(int fd, int port);
    bool sleepUnlessStopped(int ms);

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    // Guarded by fdMutex_, so the destructor never shuts down a number the server
    // thread has just closed (and the system may have handed out again).
    int currentFd_ = -1;
    std::mutex fdMutex_;
    mutable std::mutex mutex_;
    std::deque<Reply> replies_;
    std::function<Reply(const std::string&)> handler_;
    ConnectionHandler takeover_;
    std::vector<std::string> requests_;
    std::size_t connections_ = 0;
    std::thread thread_;
};

} // namespace qm::test
