#pragma once
// The OMM twin of a data set: the same records, in the same order, as an NDM XML
// document, a CSV table or a JSON array, written under a temporary name and put in
// place when complete. The data-set writer feeds it each record it writes; nothing is
// held beyond the record at hand.
#include "datasets/OmmFields.h"
#include "platform/File.h"

#include <cstddef>
#include <string>

namespace qm {

// The texts the formats need around a value: the name line's single-byte text becomes
// UTF-8; each appends `text` to `out`.
void appendXmlText(std::string& out, std::string_view text);
void appendCsvField(std::string& out, std::string_view text);
void appendJsonString(std::string& out, std::string_view text);

class OmmWriter {
public:
    // Starts the twin at `path` (not yet in place); every XML header carries
    // `creationDate` (ommCreationDate).
    OmmWriter(OmmFormat format, const std::string& path, std::string creationDate);
    OmmWriter(const OmmWriter&) = delete;
    OmmWriter& operator=(const OmmWriter&) = delete;

    // `n` data-set records of 168 bytes.
    void add(const char* records, std::size_t n = 1);
    // Ends the document and closes the file; a failure to write shows here.
    void close();
    // Puts the closed twin in place of any earlier one.
    void commit() { replacing_.commit(); }

private:
    void appendObject();
    OmmFormat format_;
    std::string creationDate_;
    ReplacingFile replacing_;
    BufferedWriter out_;
    OmmValues values_;
    std::string chunk_;
    bool first_ = true;
};

} // namespace qm
