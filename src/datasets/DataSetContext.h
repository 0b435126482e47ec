#pragma once
// What the processing run holds for the data-set writers while it builds the data
// sets: the checked catalogue, its open index, in two-line form the open name table,
// the output settings and the services the writers report and fetch through.
#include "datasets/OmmFields.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qm {

class CatalogIndex;
class SsrTable;
class Reporter;
class HttpExchange;
class ShellLauncher;

// Milliseconds since 1970-01-01 00:00:00 of the local wall clock.
using LocalClock = std::function<std::int64_t()>;
std::int64_t systemLocalClockMs();

struct DataSetContext {
    DataSetContext(Reporter& reporter_, HttpExchange& exchange_, bool& httpFailure_, ShellLauncher& launcher_)
        : reporter(reporter_)
        , exchange(exchange_)
        , httpFailure(httpFailure_)
        , launcher(launcher_)
    {
    }

    bool TwoLineFormat = false;
    std::string CatalogFile; // checked catalogue: 142-byte (two-line) or 168-byte records
    const CatalogIndex* index = nullptr; // open "catalog.idx"
    const SsrTable* ssr = nullptr; // open "ssr.dat", two-line form only
    int FileExtension = 0; // item of the extension setting: 0 ".txt", 1 ".tle"
    bool Palm = false; // "Generate Palm format"
    OmmFormat Omm = OmmFormat::None; // "OMM Data Sets": the format of each data set's twin
    std::string MyTLEsDir; // ends in "/"

    Reporter& reporter;
    HttpExchange& exchange;
    bool& httpFailure; // set by the exchange's failure handler
    ShellLauncher& launcher;
    LocalClock localClockMs = systemLocalClockMs;

    // Taken from the open tables, so they always agree with them.
    int IndexEntries() const;
    int SsrHighest() const;

    const char* extension() const { return FileExtension == 1 ? ".tle" : ".txt"; }
    std::string vantorealFolder() const { return MyTLEsDir + "Vantoreal/"; }
    std::string userFolder() const { return MyTLEsDir + "User/"; }
};

} // namespace qm
