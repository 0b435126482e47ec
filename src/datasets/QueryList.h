#pragma once
// The query list: text lines whose columns 1-5 hold a catalogue number (digits or the
// letter form) and columns 6-29 an optional replacement name. Used for the publisher's
// fetched lists and for the user's ".query" files alike.
#include "datasets/DataSetFormat.h"
#include "platform/File.h"

#include <string>
#include <string_view>

namespace qm {

// Reads the lines of a query list without holding the file in memory.
// A line ends at LF (a CR before it belongs to the line end); a CR not followed by
// LF is dropped; only the first 29 characters of a line are kept; a 0x1A byte ends
// the list.
class QueryListReader {
public:
    static constexpr std::size_t kLineWidth = 29;

    explicit QueryListReader(const std::string& path);
    // The next line, or false at the end of the list.
    bool next(std::string& line);
    void close() { in_.close(); }

private:
    BufferedReader in_;
    bool ended_ = false;
};

// Whether fetched bytes can be a query list at all, checked part by part: no NUL byte
// and no line that starts with "<" after blanks (markup: an error page), up to the
// byte that ends the list. The bytes of a UTF-8 byte-order mark that the list starts
// with count as blanks.
class QueryListCheck {
public:
    void feed(std::string_view part);
    bool passed() const { return !refused_; }

private:
    bool refused_ = false;
    bool ended_ = false;
    bool lineStart_ = true; // nothing but blanks yet on this line
    std::size_t offset_ = 0; // bytes fed so far
    std::size_t markBytes_ = 0; // of them, the byte-order mark's
};

// The check on a whole file; IoError when it cannot be read.
bool isQueryList(const std::string& path);

// One parsed query line.
struct QueryLine {
    int number = 0; // 0 when the field is not a valid catalogue number
    bool hasName = false; // columns 6-29 are not all blanks
    char name[kNameSize]{}; // columns 6-29, filled with blanks
};

// Parses a non-empty line of at most 29 characters.
QueryLine parseQueryLine(const std::string& line);

} // namespace qm
