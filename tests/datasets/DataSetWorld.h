#pragma once
// A small checked catalogue with its index (and, in two-line form, its name table)
// in a fresh working folder, and the held state the writers read.
#include "RecordingReporter.h"
#include "ScriptedPrompts.h"
#include "TempDir.h"

#include "catalogue/CatalogIndex.h"
#include "catalogue/SsrTable.h"
#include "datasets/DataSetContext.h"
#include "datasets/DataSetWriter.h"
#include "platform/ShellLauncher.h"
#include "service/HttpExchange.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

// Columns 3-7 of the TLE lines of catalogue number n: five digits, or from 100000 on a
// letter (I and O left out) and four digits.
std::string catalogText(int n);
// TLE lines of catalogue number n with a valid checksum.
std::string tleLine1(int n);
std::string tleLine2(int n);
// A name padded with blanks to 24 characters.
std::string name24(const std::string& name);
// One data-set record.
std::string dataSetRecord(const std::string& name, int n);

class RecordingLauncher : public ShellLauncher {
public:
    void open(const std::string& item, const std::string& workingDir) override
    {
        opened.emplace_back(item, workingDir);
    }
    std::vector<std::pair<std::string, std::string>> opened;
};

struct CatalogueObject {
    int number;
    std::string name; // three-line form only
};

struct ReportEntry {
    int number;
    std::string name;
};

class DataSetWorld {
public:
    // Two-line form builds the name table from `report` (entries in report order).
    DataSetWorld(
        bool twoLine, const std::vector<CatalogueObject>& objects, const std::vector<ReportEntry>& report = {});
    // The catalogue from a text as a download holds it (checked here); no report.
    DataSetWorld(bool twoLine, const std::string& catalogueText);
    ~DataSetWorld();

    std::string vantoreal(const std::string& file) const { return dir.path() + "Vantoreal/" + file; }
    std::string user(const std::string& file) const { return dir.path() + "User/" + file; }
    // Files of a folder whose name marks an unfinished write.
    std::vector<std::string> leftovers(const std::string& folder) const;
    // Checks and indexes `text` as the catalogue; in two-line form with the report's names.
    void useCatalogue(bool twoLine, const std::string& text, const std::vector<ReportEntry>& report);

    TempDir dir;
    ScopedCurrentDir cwd{dir.path()};
    RecordingReporter reporter;
    ScriptedPrompts prompts;
    HttpExchange exchange;
    bool httpFailure = false;
    RecordingLauncher launcher;
    CatalogIndex index;
    SsrTable ssr;
    DataSetContext ctx{reporter, exchange, httpFailure, launcher};
    DataSetWriter writer{ctx};
};

} // namespace qm::test
