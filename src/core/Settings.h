#pragma once
// Every section and key of the settings file, once, with its type and default. The
// start-up load asks for keys by field; the Save Settings, exit and proxy Save paths
// walk the table in its order.
#include "core/IniFile.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace qm {

enum class Field {
    LeftCorner,
    TopCorner,
    FormWidth,
    FormHeight,
    InternetTimeout,
    Username,
    Password,
    RetainAccountInfo,
    VantorealItem, // one key per checkable item of the data-set list; `item` is its index
    FileExtension,
    GeneratePalmFormat,
    OmmFormat,
    Notifications,
    MostCurrentCatalog,
    MostCurrentSatcat,
    DataFormat,
    CurrentCatalogItem, // one key per item of the current-catalogue list
    CompleteDataFiles,
    SpaceSituationReport,
    AutoDownload,
    InitialDelay,
    AutoDownloadFrequency,
    DebugOn,
    StopOnErrors,
    CheckCriticalUpdates,
    UseProxy,
    ProxyServer,
    ProxyPort,
    ProxyAuthentication,
    ProxyUserID,
    ProxyPassword,
    RetainProxyInfo,
};

enum class ValueType { Integer, Boolean, Text };

// Write paths a key belongs to.
inline constexpr unsigned kSaveSettingsPath = 1;
inline constexpr unsigned kExitPath = 2;
inline constexpr unsigned kProxySavePath = 4;

struct SettingDef {
    Field field;
    int item; // list item index for the per-item keys, else -1
    std::string_view section;
    std::string_view key;
    ValueType type;
    int number; // default of Integer and Boolean keys
    std::string_view text; // default of Text keys
    unsigned paths;
};

std::span<const SettingDef> settingsTable();
// The definition of a field (and item, for the per-item keys); a field that is not in
// the table is a programming error and throws std::logic_error.
const SettingDef& settingDef(Field field, int item = -1);

// Indexes of the checkable items of the data-set list, in the keys' fixed order.
std::span<const int> vantorealKeyItems();
inline constexpr int kCurrentCatalogItems = 12;

// A value for a write path: `number` for Integer and Boolean keys, `text` for Text keys.
struct SettingValue {
    int number = 0;
    std::string text;
};

// The settings file seen through the table.
class SettingsFile {
public:
    explicit SettingsFile(std::string path)
        : ini_(std::move(path))
    {
    }
    IniFile& ini() { return ini_; }
    const std::string& path() const { return ini_.path(); }

    int readInteger(Field field, int item = -1) const;
    bool readBool(Field field, int item = -1) const;
    std::string readText(Field field, int item = -1) const;
    void write(const SettingDef& def, const SettingValue& value);

    // Writes every key of `path` in table order, asking `valueOf` for each value.
    // A failure abandons the rest of the path.
    void writePath(unsigned path, const std::function<SettingValue(const SettingDef&)>& valueOf);

    // Keys left by earlier versions: "GZIP Files" always; the old proxy keys of
    // "Initialization" only while "Proxy Initialization" does not exist yet.
    void deleteObsoleteStartupKeys();
    // The proxy form's obsolete keys, removed at its creation.
    void deleteObsoleteProxyKeys();

private:
    IniFile ini_;
};

} // namespace qm
