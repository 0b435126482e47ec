#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace qm::e2e {

namespace {

namespace fs = std::filesystem;

// The 36 keys of "Vantoreal Defaults", "All" being "Complete Catalog".
const char* const kDataSetKeys[] = {"Last 30 Days", "International Space Station", "100 Brightest", "Weather", "NOAA",
    "GOES", "Earth Resources", "Disaster Monitoring", "TDRSS", "SARSAT", "Geostationary", "Intelsat", "Gorizont",
    "Raduga", "Molniya", "Iridium", "Orbcomm", "Globalstar", "Amateur Radio", "Experimental", "Other Comm", "GPS Ops",
    "GLONASS Ops", "Galileo", "SBAS", "NNSS", "Russian LEO Navigation", "Space & Earth Science", "Geodetic",
    "Engineering", "Education", "Miscellaneous Military", "Radar Calibration", "CubeSats", "Other", "All"};

} // namespace

UpdateHome::UpdateHome(const test::LocalService& service)
    : service_(&service)
{
    for (const char* folder : {"bin", "path", "work", "home/.config", "home/Documents/My TLEs/User"})
        fs::create_directories(dir_.file(folder));
    // The desktop's handler, which receives every Palm database, opens nothing here.
    test::writeFile(dir_.file("path/xdg-open"), "#!/bin/sh\nexit 0\n");
    fs::permissions(dir_.file("path/xdg-open"), fs::perms::owner_all);
    // A program with its settings beside it uses them, wherever it lies; a hard link
    // costs nothing where the file system allows it.
    std::error_code linked;
    fs::create_hard_link(QM_PROGRAM_FILE, dir_.file("bin/quillmaren"), linked);
    if (linked)
        fs::copy_file(QM_PROGRAM_FILE, dir_.file("bin/quillmaren"));
}

void UpdateHome::writeSettings(const UpdateSettings& settings)
{
    std::ostringstream ini;
    ini << "[Skarvelin Account Info]\nUsername=" << test::LocalService::kUser << "\nPassword=" << settings.password
        << "\nRetain Account Info=1\n";
    // The report "No" and the full catalogue unticked: the update run must choose them itself.
    ini << "[Skarvelin Defaults]\nData Format=" << (settings.twoLine ? 0 : 1)
        << "\nFull Catalog=0\nComplete Data Files=1\nSpace Situation Report=1\n";
    ini << "[Vantoreal Defaults]\n";
    for (const char* key : kDataSetKeys)
        ini << key << "=" << (settings.everyRow ? 1 : 0) << "\n";
    ini << "File Extension=" << settings.extension << "\nGenerate Palm Format=" << (settings.palm ? 1 : 0) << "\n";
    if (settings.omm != 0)
        ini << "OMM Format=" << settings.omm << "\n";
    ini << "[Debugging]\nDebug On=1\nStop On Errors=1\nCheck Vantoreal for Critical Updates="
        << (settings.checkCriticalUpdates ? 1 : 0) << "\n";
    if (settings.proxyPort != 0)
        ini << "[Proxy Initialization]\nUse Proxy=1\nProxy Server=127.0.0.1\nProxy Port=" << settings.proxyPort
            << "\nProxy Authentication=1\nProxy UserID=" << settings.proxyUser
            << "\nProxy Password=" << settings.proxyPassword << "\nRetain Proxy Info=1\n";
    test::writeFile(dir_.file("bin/quillmaren.ini"), ini.str());
}

void UpdateHome::addUserQuery(const std::string& name, const std::string& text)
{
    test::writeFile(myTles() + "User/" + name + ".query", text);
}

test::ProgramOutcome UpdateHome::runUpdate()
{
    return test::waitForProgram(startUpdate(), work(""));
}

pid_t UpdateHome::startUpdate()
{
    return startUpdateIn("work", {});
}

pid_t UpdateHome::startUpdateIn(const std::string& folder, const std::vector<std::string>& extra)
{
    fs::create_directories(dir_.file(folder));
    return test::startProgram(program(), {"-update"}, dir_.file(folder + "/"), environment(extra));
}

std::vector<std::string> UpdateHome::environment(const std::vector<std::string>& extra) const
{
    std::vector<std::string> environment{"PATH=" + dir_.file("path") + ":/usr/bin:/bin", "HOME=" + dir_.file("home"),
        "XDG_CONFIG_HOME=" + dir_.file("home/.config"), "QUILLMAREN_SERVICE_HOST=" + service_->base(),
        "QUILLMAREN_PUBLISHER_HOST=" + service_->base()};
    if (service_->base().starts_with("https:"))
        environment.push_back("QUILLMAREN_CA_FILE=" + service_->caFile());
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

std::string UpdateHome::settingsText() const
{
    return test::readFile(dir_.file("bin/quillmaren.ini"));
}

std::vector<std::string> UpdateHome::logMessages() const
{
    static const std::regex stamped(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] (.*))");
    std::vector<std::string> messages;
    std::istringstream lines(test::readFile(work("quillmaren.log")));
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(line.ends_with('\r')) << "a log line ends in CR LF: " << line;
        if (line.ends_with('\r'))
            line.pop_back();
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, stamped)) << "no time stamp: " << line;
        messages.push_back(m.size() > 1 ? m[1].str() : line);
    }
    return messages;
}

std::vector<std::string> UpdateHome::filesBelow(const std::string& folder)
{
    std::vector<std::string> files;
    // The lock file stays once a run has taken it; the lock's own tests look for it.
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory() && entry.path().filename() != ".quillmaren.lock")
            files.push_back(fs::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace qm::e2e
