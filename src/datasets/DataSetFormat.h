#pragma once
// The data-set file: 168-byte records of a 24-character name line, TLE line 1 and
// TLE line 2, each followed by CR LF, with nothing before, between or after them.
#include "catalogue/TLESupport.h"

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qm {

inline constexpr std::size_t kDataSetRecordSize = kThreeLineRecordSize;
inline constexpr std::size_t kNameSize = kNameLength;
inline constexpr std::size_t kRecordLine1Offset = 26;
inline constexpr std::size_t kRecordLine2Offset = 97;

// The name line of an object whose situation-report name is not known.
inline constexpr std::string_view kUnknownName = "UNKNOWN                 ";
static_assert(kUnknownName.size() == kNameSize);

inline void putUnknownName(char* nameField)
{
    std::memcpy(nameField, kUnknownName.data(), kNameSize);
}

inline bool allBytesAre(const char* p, std::size_t n, char c)
{
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != c)
            return false;
    return true;
}

} // namespace qm
