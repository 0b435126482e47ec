#pragma once
// What a processing run must leave on disk, worked out here from the local service's
// source texts by a plain model of the published rules (check and repair, index,
// situation-report table, data sets), written apart from the program's own code so
// that the end-to-end tests compare two independent results.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qm::e2e {

// A field read the way the catalogue's readers read it: leading blanks, an optional
// sign and digits to the end of the field; nullopt for anything else.
std::optional<long> integerField(const std::string& field);
// A catalogue number of five columns: digits, or a letter (not I or O) and four digits.
std::optional<long> catalogueNumberField(const std::string& field);

// The catalogue as the check leaves it: fixed records (142 bytes two-line, 168 bytes
// three-line) of the objects that passed, and the repaired records that did not.
struct CheckedCatalogue {
    bool twoLine = true;
    std::vector<std::string> good;
    std::vector<std::string> rejected;
    std::map<long, std::size_t> byNumber; // index into `good`
    // "catalog.idx": 32-bit little-endian record numbers (1-based) by catalogue number.
    std::string index() const;
    // The record of catalogue number n through the index; nullopt when absent.
    std::optional<std::string> lookUp(long n) const;
    std::string rejectedFile() const;
};
CheckedCatalogue checkCatalogue(const std::string& text, bool twoLine);

// "ssr.dat" from the situation report's text: 40-byte records by catalogue number.
std::string reportTable(const std::string& reportText);

// A data-set file (168-byte records) from a query list; `absent` receives the numbers
// the list names that the catalogue does not hold, in list order. `table` is "ssr.dat"
// (two-line form only).
std::string dataSet(const std::string& queryList, const CheckedCatalogue& catalogue, const std::string& table,
    std::vector<long>* absent = nullptr);
// The comprehensive file: every checked record with its name line.
std::string comprehensive(const CheckedCatalogue& catalogue, const std::string& table);

} // namespace qm::e2e
