#pragma once
// What the exchange reads from the lines of a response head. Each line is given with
// its line end, exactly as received.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

struct ResponseFields {
    int status = 0;
    std::string cookie; // the last Set-Cookie value
    std::string location; // the Location value
    // The announced body length; -1 when none was given or it is not to be trusted.
    std::int64_t contentLength = -1;
    // Content-Length given more than once, or not a plain decimal that fits 63 bits.
    bool contentLengthMalformed = false;
    // A Transfer-Encoding field: a coding this HTTP/1.0 client never asked for.
    bool transferEncoded = false;
};

// The number between the first and second blank of the status line; 0 when there is none.
int statusOfLine(std::string_view line);

// Takes Set-Cookie, Location, Content-Length and Transfer-Encoding from a head line
// after the status line.
void readHeadLine(std::string_view line, ResponseFields& fields);

// The empty line (LF or CR LF alone) that closes the head; a connection closed at a
// line boundary gives an empty line too.
bool endsHead(std::string_view line);

} // namespace qm
