#pragma once
// The rows of the "Vantoreal Data Sets" check list, in list order. The run consults
// them by row number, so captions and order must not change; the window's list is
// built from this table as well.
#include <array>
#include <string_view>

namespace qm {

enum class DataSetRowKind {
    Header, // no check box, builds nothing
    Named, // BuildDataSet(baseName)
    Comprehensive, // BuildComprehensiveDataSet
};

struct DataSetRow {
    int row;
    std::string_view caption;
    DataSetRowKind kind;
    std::string_view baseName; // Named rows only
};

namespace rows {
constexpr DataSetRow header(int row, std::string_view caption)
{
    return {row, caption, DataSetRowKind::Header, {}};
}
constexpr DataSetRow named(int row, std::string_view caption, std::string_view baseName)
{
    return {row, caption, DataSetRowKind::Named, baseName};
}
} // namespace rows

inline constexpr std::array<DataSetRow, 43> kDataSetRows = {
    rows::header(0, "Special-Interest"),
    rows::named(1, "Last 30 Day's Launches", "tle-new"),
    rows::named(2, "International Space Station", "stations"),
    rows::named(3, "100 (or so) Brightest", "visual"),
    rows::header(4, "Weather & Earth Resources"),
    rows::named(5, "Weather", "weather"),
    rows::named(6, "NOAA", "noaa"),
    rows::named(7, "GOES", "goes"),
    rows::named(8, "Earth Resources", "resource"),
    rows::named(9, "Disaster Monitoring", "dmc"),
    rows::named(10, "TDRSS", "tdrss"),
    rows::named(11, "Search & Rescue (SARSAT)", "sarsat"),
    rows::header(12, "Communications"),
    rows::named(13, "Geostationary", "geo"),
    rows::named(14, "Intelsat", "intelsat"),
    rows::named(15, "Gorizont", "gorizont"),
    rows::named(16, "Raduga", "raduga"),
    rows::named(17, "Molniya", "molniya"),
    rows::named(18, "Iridium", "iridium"),
    rows::named(19, "Orbcomm", "orbcomm"),
    rows::named(20, "Globalstar", "globalst"),
    rows::named(21, "Amateur Radio", "amateur"),
    rows::named(22, "Experimental", "x-comm"),
    rows::named(23, "Other", "other-comm"),
    rows::header(24, "Navigation"),
    rows::named(25, "GPS Operational", "gps-ops"),
    rows::named(26, "GLONASS Operational", "glo-ops"),
    rows::named(27, "Galileo", "galileo"),
    rows::named(28, "WAAS/EGNOS/MSAS", "sbas"),
    rows::named(29, "NNSS", "nnss"),
    rows::named(30, "Russian LEO", "musson"),
    rows::header(31, "Scientific"),
    rows::named(32, "Space & Earth Science", "science"),
    rows::named(33, "Geodetic", "geodetic"),
    rows::named(34, "Engineering", "engineer"),
    rows::named(35, "Education", "education"),
    rows::header(36, "Miscellaneous"),
    rows::named(37, "Miscellaneous Military", "military"),
    rows::named(38, "Radar Calibration", "radar"),
    rows::named(39, "CubeSats", "cubesat"),
    rows::named(40, "Other", "other"),
    rows::header(41, "Comprehensive"),
    {42, "Complete Catalog", DataSetRowKind::Comprehensive, {}},
};

// The row that builds the comprehensive catalogue.
inline constexpr int kCompleteCatalogRow = 42;

constexpr bool rowsInOrder()
{
    for (std::size_t i = 0; i < kDataSetRows.size(); ++i)
        if (kDataSetRows[i].row != static_cast<int>(i))
            return false;
    return kDataSetRows[kCompleteCatalogRow].kind == DataSetRowKind::Comprehensive;
}
static_assert(rowsInOrder());

} // namespace qm
