#include "core/Settings.h"

#include <array>
#include <stdexcept>

namespace qm {

namespace {

constexpr std::string_view kInit = "Initialization";
constexpr std::string_view kAccount = "Skarvelin Account Info";
constexpr std::string_view kVantoreal = "Vantoreal Defaults";
constexpr std::string_view kMostCurrent = "Most Current Data";
constexpr std::string_view kSkarvelin = "Skarvelin Defaults";
constexpr std::string_view kDebugging = "Debugging";
constexpr std::string_view kProxy = "Proxy Initialization";

constexpr unsigned S = kSaveSettingsPath;
constexpr unsigned X = kExitPath;
constexpr unsigned P = kProxySavePath;

constexpr ValueType Int = ValueType::Integer;
constexpr ValueType Bool = ValueType::Boolean;
constexpr ValueType Text = ValueType::Text;

constexpr SettingDef vantoreal(int item, std::string_view key)
{
    return {Field::VantorealItem, item, kVantoreal, key, Bool, 0, {}, S};
}
constexpr SettingDef catalogue(int item, std::string_view key, int def)
{
    return {Field::CurrentCatalogItem, item, kSkarvelin, key, Bool, def, {}, S};
}

constexpr auto kTable = std::to_array<SettingDef>({
    {Field::LeftCorner, -1, kInit, "Left Corner", Int, 10, {}, X},
    {Field::TopCorner, -1, kInit, "Top Corner", Int, 10, {}, X},
    {Field::FormWidth, -1, kInit, "Form Width", Int, 688, {}, X},
    {Field::FormHeight, -1, kInit, "Form Height", Int, 528, {}, X},
    {Field::InternetTimeout, -1, kInit, "Internet Timeout", Int, 60, {}, X},
    {Field::Username, -1, kAccount, "Username", Text, 0, "", S},
    {Field::Password, -1, kAccount, "Password", Text, 0, "", S},
    {Field::RetainAccountInfo, -1, kAccount, "Retain Account Info", Bool, 0, {}, S},
    vantoreal(1, "Last 30 Days"),
    vantoreal(2, "International Space Station"),
    vantoreal(3, "100 Brightest"),
    vantoreal(5, "Weather"),
    vantoreal(6, "NOAA"),
    vantoreal(7, "GOES"),
    vantoreal(8, "Earth Resources"),
    vantoreal(9, "Disaster Monitoring"),
    vantoreal(10, "TDRSS"),
    vantoreal(11, "SARSAT"),
    vantoreal(13, "Geostationary"),
    vantoreal(14, "Intelsat"),
    vantoreal(15, "Gorizont"),
    vantoreal(16, "Raduga"),
    vantoreal(17, "Molniya"),
    vantoreal(18, "Iridium"),
    vantoreal(19, "Orbcomm"),
    vantoreal(20, "Globalstar"),
    vantoreal(21, "Amateur Radio"),
    vantoreal(22, "Experimental"),
    vantoreal(23, "Other Comm"),
    vantoreal(25, "GPS Ops"),
    vantoreal(26, "GLONASS Ops"),
    vantoreal(27, "Galileo"),
    vantoreal(28, "SBAS"),
    vantoreal(29, "NNSS"),
    vantoreal(30, "Russian LEO Navigation"),
    vantoreal(32, "Space & Earth Science"),
    vantoreal(33, "Geodetic"),
    vantoreal(34, "Engineering"),
    vantoreal(35, "Education"),
    vantoreal(37, "Miscellaneous Military"),
    vantoreal(38, "Radar Calibration"),
    vantoreal(39, "CubeSats"),
    vantoreal(40, "Other"),
    vantoreal(42, "All"),
    {Field::FileExtension, -1, kVantoreal, "File Extension", Int, 0, {}, S},
    {Field::GeneratePalmFormat, -1, kVantoreal, "Generate Palm Format", Bool, 0, {}, S},
    // 0 none, 1 XML, 2 CSV, 3 JSON; any other value reads as none.
    {Field::OmmFormat, -1, kVantoreal, "OMM Format", Int, 0, {}, S},
    // Desktop notifications of unattended runs that fail, and of the first that succeeds again.
    {Field::Notifications, -1, kVantoreal, "Notifications", Bool, 1, {}, S},
    {Field::MostCurrentCatalog, -1, kMostCurrent, "Catalog", Text, 0, "", X},
    {Field::MostCurrentSatcat, -1, kMostCurrent, "SATCAT", Text, 0, "", X},
    {Field::DataFormat, -1, kSkarvelin, "Data Format", Int, 0, {}, S},
    catalogue(0, "Full Catalog", 1),
    catalogue(1, "Geosynchronous", 0),
    catalogue(2, "Navigation", 0),
    catalogue(3, "Weather", 0),
    catalogue(4, "Iridium", 0),
    catalogue(5, "Orbcomm", 0),
    catalogue(6, "Globalstar", 0),
    catalogue(7, "Intelsat", 0),
    catalogue(8, "Inmarsat", 0),
    catalogue(9, "Amateur", 0),
    catalogue(10, "Visible", 0),
    catalogue(11, "Special Interest", 0),
    {Field::CompleteDataFiles, -1, kSkarvelin, "Complete Data Files", Int, 1, {}, S},
    {Field::SpaceSituationReport, -1, kSkarvelin, "Space Situation Report", Int, 0, {}, S},
    {Field::AutoDownload, -1, kSkarvelin, "Auto Download", Bool, 0, {}, S},
    {Field::InitialDelay, -1, kSkarvelin, "Initial Delay", Int, 5, {}, S},
    {Field::AutoDownloadFrequency, -1, kSkarvelin, "Auto Download Frequency", Int, 1, {}, S},
    {Field::DebugOn, -1, kDebugging, "Debug On", Bool, 0, {}, S},
    {Field::StopOnErrors, -1, kDebugging, "Stop On Errors", Bool, 1, {}, S},
    {Field::CheckCriticalUpdates, -1, kDebugging, "Check Vantoreal for Critical Updates", Bool, 1, {}, S | X},
    {Field::UseProxy, -1, kProxy, "Use Proxy", Bool, 0, {}, P},
    {Field::ProxyServer, -1, kProxy, "Proxy Server", Text, 0, "", P},
    {Field::ProxyPort, -1, kProxy, "Proxy Port", Int, 0, {}, P},
    {Field::ProxyAuthentication, -1, kProxy, "Proxy Authentication", Bool, 0, {}, P},
    {Field::ProxyUserID, -1, kProxy, "Proxy UserID", Text, 0, "", P},
    {Field::ProxyPassword, -1, kProxy, "Proxy Password", Text, 0, "", P},
    {Field::RetainProxyInfo, -1, kProxy, "Retain Proxy Info", Bool, 0, {}, P},
});

constexpr auto kVantorealItems = [] {
    std::array<int, 36> items{};
    std::size_t n = 0;
    for (const auto& def : kTable)
        if (def.field == Field::VantorealItem)
            items[n++] = def.item;
    return items;
}();

} // namespace

std::span<const SettingDef> settingsTable()
{
    return kTable;
}

std::span<const int> vantorealKeyItems()
{
    return kVantorealItems;
}

const SettingDef& settingDef(Field field, int item)
{
    for (const auto& def : kTable)
        if (def.field == field && def.item == item)
            return def;
    throw std::logic_error("no such setting");
}

int SettingsFile::readInteger(Field field, int item) const
{
    const auto& def = settingDef(field, item);
    return ini_.readInteger(def.section, def.key, def.number);
}

bool SettingsFile::readBool(Field field, int item) const
{
    const auto& def = settingDef(field, item);
    return ini_.readBool(def.section, def.key, def.number != 0);
}

std::string SettingsFile::readText(Field field, int item) const
{
    const auto& def = settingDef(field, item);
    return ini_.readString(def.section, def.key, def.text);
}

void SettingsFile::write(const SettingDef& def, const SettingValue& value)
{
    switch (def.type) {
    case ValueType::Integer:
        ini_.writeInteger(def.section, def.key, value.number);
        break;
    case ValueType::Boolean:
        ini_.writeBool(def.section, def.key, value.number != 0);
        break;
    case ValueType::Text:
        ini_.writeString(def.section, def.key, value.text);
        break;
    }
}

void SettingsFile::writePath(unsigned path, const std::function<SettingValue(const SettingDef&)>& valueOf)
{
    for (const auto& def : kTable)
        if (def.paths & path)
            write(def, valueOf(def));
}

void SettingsFile::deleteObsoleteStartupKeys()
{
    ini_.deleteKey(kDebugging, "GZIP Files");
    if (!ini_.sectionExists(kProxy))
        for (std::string_view key :
            {"Proxy Authenticate", "Proxy UserID", "Proxy Password", "Retain Proxy Info", "Use Proxy"})
            ini_.deleteKey(kInit, key);
}

void SettingsFile::deleteObsoleteProxyKeys()
{
    ini_.deleteKey(kProxy, "Auto Check Proxy");
    ini_.deleteKey(kProxy, "Proxy Authenticate");
}

} // namespace qm
