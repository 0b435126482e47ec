#pragma once
// The Palm OS record database (".pdb") made from a data-set file: a 78-byte header,
// three record-list entries per element set, then the name, line-1 and line-2
// records, each ending in a single LF. All numbers big-endian.
#include <cstdint>
#include <string>

namespace qm {

class BufferedReader;
class BufferedWriter;

inline constexpr std::size_t kPalmHeaderSize = 78;
inline constexpr std::size_t kPalmEntrySize = 8;
inline constexpr std::size_t kPalmSetSize = 165; // 25 + 70 + 70
inline constexpr std::uint64_t kPalmSetLimit = 1000;
inline constexpr std::size_t kPalmNameFieldSize = 32;

// Seconds since 1970 of a local wall-clock reading in milliseconds, rounded to the
// nearest second with ties to the even value.
std::uint32_t palmDate(std::int64_t localMs);

// Writes the database of the next `sets` element sets read from `in` (a data-set file
// holding at least that many records) to `out`, an empty file; the caller closes it.
void writePalmDatabase(
    BufferedReader& in, BufferedWriter& out, const std::string& databaseName, std::uint64_t sets, std::uint32_t date);

} // namespace qm
