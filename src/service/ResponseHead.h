#pragma once
// What the exchange reads from the lines of a response head. Each line is given with
// its line end (LF, or CR LF), exactly as received. A field is its name in any case,
// ":", optional blanks and tabs, and its value up to optional blanks and tabs before
// the line end.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

struct ResponseFields {
    int status = 0;
    std::string cookie; // the last Set-Cookie value
    std::string location; // the Location value, at most kMaxLocation characters
    static constexpr std::size_t kMaxLocation = 256;
    // The announced body length; -1 when none was given or it is not to be trusted.
    std::int64_t contentLength = -1;
    // Content-Length given more than once, or not a plain decimal that fits 63 bits.
    bool contentLengthMalformed = false;
    // A Transfer-Encoding field: a coding this HTTP/1.0 client never asked for.
    bool transferEncoded = false;
};

// The number between the first blank of the status line and the next blank, tab or
// line end; 0 when there is none.
int statusOfLine(std::string_view line);

// Takes Set-Cookie (its value up to the first ";"), Location, Content-Length and
// Transfer-Encoding from a head line after the status line. A blank or tab between a
// field's name and its colon is no HTTP: MalformedResponse, the reply is refused.
void readHeadLine(std::string_view line, ResponseFields& fields);

// The empty line (LF or CR LF alone) that closes the head; a connection closed at a
// line boundary gives an empty line too.
bool endsHead(std::string_view line);

} // namespace qm
