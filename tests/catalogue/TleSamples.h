#pragma once
// Realistic element sets for the catalogue tests, and helpers to edit them by column.
#include "catalogue/TLESupport.h"

#include <string>

namespace qm::test {

// A space-station element set as published, both checksums correct.
inline const std::string kIssLine1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
inline const std::string kIssLine2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
// A weather satellite in a sun-synchronous orbit, composed for the tests.
inline const std::string kNoaaLine1 = "1 28654U 05018A   24100.50000000  .00000100  00000+0  75000-4 0  9997";
inline const std::string kNoaaLine2 = "2 28654  99.0500 150.1234 0013800 200.5000 159.5000 14.12800000970007";
// An object numbered past 99999, composed for the tests: T0123 is 270123, and the
// letter adds nothing to the check character.
inline const std::string kAlphaLine1 = "1 T0123U 24123AB  24350.12345678  .00012345  00000+0  54321-3 0  9990";
inline const std::string kAlphaLine2 = "2 T0123  53.0512 120.4567 0001234  90.1234 270.0123 15.21987654 12341";

// Sets column `col` (from 1) of a line, or `text` starting there.
inline std::string put(std::string line, int col, const std::string& text)
{
    line.replace(static_cast<std::size_t>(col - 1), text.size(), text);
    return line;
}

// Recomputes column 69 from columns 1-68 (the modulo-10 rule written out here).
inline std::string withChecksum(std::string line)
{
    int sum = 0;
    for (int i = 0; i < 68; ++i) {
        if (line[i] >= '0' && line[i] <= '9')
            sum += line[i] - '0';
        else if (line[i] == '-')
            sum += 1;
    }
    line[68] = static_cast<char>('0' + sum % 10);
    return line;
}

inline std::string pairOf(const std::string& l1, const std::string& l2)
{
    return l1 + "\r\n" + l2 + "\r\n";
}

inline std::string name24(std::string name)
{
    name.resize(24, ' ');
    return name + "\r\n";
}

} // namespace qm::test
