#pragma once
// "ssr.dat": the situation report's names as 40-byte records by catalogue number:
// designator (11), catalogue number text (5), common name (24), as in the report.
#include "platform/File.h"

#include <string>

namespace qm {

class Reporter;

class SsrTable {
public:
    static constexpr std::size_t kRecordSize = 40;
    static constexpr const char* kFileName = "ssr.dat";
    static constexpr const char* kHeader = "Satellite Situation Report Objects in Orbit";

    // Extracts the report text (the first member matching "ssr*.*" named like the
    // archive, with ".txt") into myTlesDir, reads it and builds "ssr.dat" in the
    // current directory, kept open. A missing report text is a fatal stop; archive
    // open/list failures and a text that cannot be written raise IoError.
    void build(const std::string& satcatArchive, const std::string& myTlesDir, Reporter& reporter);
    // Builds the table from an already unpacked report text (no extraction).
    void buildFromText(const std::string& textFile, Reporter& reporter);
    bool isOpen() const { return file_.isOpen(); }
    // Highest catalogue number in the table (record count - 1; -1 when empty).
    int highest() const { return highest_; }
    // Path of the unpacked report text (SsrTextFile), deleted by the run at its end;
    // set as soon as build() has named it.
    const std::string& textFile() const { return textFile_; }
    // The 24 name bytes of record n as stored; callers ask only for n <= highest().
    void readName(int n, char out[24]) const;
    // Where the name bytes stand in a record, and the open table, for passes that
    // read many names at once.
    static constexpr std::size_t kNameOffset = 16;
    const File& file() const { return file_.file(); }
    // Up to `count` whole records from record `first` on into `out`; returns how many
    // the table holds there (fewer at its end).
    std::size_t readRecords(int first, std::size_t count, char* out) const;
    // Closes "ssr.dat" and logs "Close [fssr]".
    void close(Reporter& reporter);

private:
    RecordFile file_;
    std::string textFile_;
    int highest_ = -1;
};

} // namespace qm
