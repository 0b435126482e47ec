#pragma once
// Error kinds shared by every subsystem. Each carries the exact text the user sees.
#include <stdexcept>
#include <string>
#include <utility>

namespace qm {

// A file that cannot be opened, created, read or written. Abandons the current
// operation; the event handler's edge shows the text in the general error report.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A network failure of the HTTP exchange ("Connection Failed", ...), with the system's
// own words for it when the text does not carry them already ("Connection refused",
// the resolver's "Name or service not known").
class SocketError : public std::runtime_error {
public:
    explicit SocketError(const std::string& text, std::string reason = {})
        : std::runtime_error(text)
        , reason_(std::move(reason))
    {
    }
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// Silence inside a response head or body ("Socket readln aborted", "Socket capture aborted").
class SocketReadAborted : public SocketError {
public:
    using SocketError::SocketError;
};

// A server certificate that TLS refused ("Certificate verification failed: <reason>").
// Unlike a host that cannot be reached it does not mend itself on the next try, and it
// may be an attack, so its reason is told wherever the failure is.
class CertificateError : public SocketError {
public:
    using SocketError::SocketError;
};

// A body that ended before the length its head announced ("Incomplete response").
class IncompleteResponse : public SocketError {
public:
    using SocketError::SocketError;
};

// A response (head or body, announced or received) or a proxy's reply past what the
// program takes: the fault of what was asked for, not of the network.
class ResponseTooLarge : public SocketError {
public:
    ResponseTooLarge()
        : SocketError("Response too large")
    {
    }
};

// A response head that is no HTTP (a blank between a field's name and its colon): its
// fields could be read two ways, so nothing of it is taken or stored.
class MalformedResponse : public SocketError {
public:
    MalformedResponse()
        : SocketError("Malformed response head")
    {
    }
};

// A text that should have been an integer ("'%s' is not a valid integer value").
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit status of a process that ended through a fatal stop: a halted unattended
// run must not look like a success to cron.
inline constexpr int kFatalExitStatus = 1;

// A fatal stop: the program ends. Deliberately not a std::exception, so that the
// general error report of an event handler never swallows it. The raiser writes its
// own log lines first; the edge that catches it shows `message` in an error box
// (unless `shown` says the raiser already did), logs "PROGRAM HALTED" while debug
// logging is on (unless `logHalted` is false), and ends the program through the
// ordinary shutdown with `exitStatus`.
struct FatalStop {
    std::string message;
    bool shown = false;
    int exitStatus = kFatalExitStatus;
    bool logHalted = true;
};

} // namespace qm
