#pragma once
// The query list: text lines whose columns 1-5 hold a catalogue number (digits or the
// letter form) and columns 6-29 an optional replacement name. Used for the publisher's
// fetched lists and for the user's ".query" files alike.
#include "datasets/DataSetFormat.h"
#include "platform/File.h"

#include <string>

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

// One parsed query line.
struct QueryLine {
    int number = 0; // 0 when the field is not a valid catalogue number
    bool hasName = false; // columns 6-29 are not all blanks
    char name[kNameSize]{}; // columns 6-29, filled with blanks
};

// Parses a non-empty line of at most 29 characters.
QueryLine parseQueryLine(const std::string& line);

} // namespace qm
