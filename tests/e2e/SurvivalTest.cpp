// "quillmaren -update" killed with SIGKILL at moments spread over runs that bring a new
// catalogue: afterwards every data set is its old file or its new one whole, nothing is
// left but temporaries that the program sweeps itself, and a run without a kill
// completes with every data set new.
//
// QM_SURVIVAL_SEED=<n> replays the moments of a failed run (the seed is printed).
#include "UpdateHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace qm::e2e {
namespace {

using test::LocalService;
using test::readFile;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// Every run waits 5 seconds before it starts work; homes killed side by side let those
// waits overlap.
constexpr int kHomes = 10;
constexpr int kKillsPerHome = 2;
constexpr int kKills = kHomes * kKillsPerHome;
// The homes' first runs start this far apart, and so their later runs, so that the
// work of all of them does not fall on the same moment.
constexpr auto kStagger = std::chrono::milliseconds(250);

// The stages a kill is aimed at, each by the log line that begins it, with how many of
// the kills go to it: the short ones get more than their share of the time.
struct Stage {
    const char* name;
    const char* firstLine;
    int kills;
};
const Stage kStages[] = {{"download", "Checking Vantoreal for critical update", 6},
    {"check and index", "Extracting catalog data", 4}, {"data sets", "Building Vantoreal data sets", 10}};

// Relative paths below My TLEs -> bytes.
using Files = std::map<std::string, std::string>;

// ".<name>.<8 hex digits>.part": the program's temporary for <name> in the same folder.
const std::regex kTemporary(R"((.*/)?\.([^/]+)\.[0-9a-fA-F]{8}\.part)");

// A temporary's own temporary (a download writes its temporary through one) stands for
// the file too.
bool isTemporary(const std::string& relative, std::string* standsFor = nullptr)
{
    std::smatch m;
    if (!std::regex_match(relative, m, kTemporary))
        return false;
    if (standsFor) {
        *standsFor = m[1].str() + m[2].str();
        isTemporary(*standsFor, standsFor);
    }
    return true;
}

bool isDataSet(const std::string& relative)
{
    return (relative.starts_with("Vantoreal/") || relative.starts_with("User/")) && !relative.ends_with(".query")
        && !isTemporary(relative);
}

// The report of changes is replaced whole, but which catalogues it compares depends on
// where a kill fell: a whole one has as many lines of each kind as its head counts.
constexpr const char* kChanges = "Changes.txt";

bool wholeReport(const std::string& bytes)
{
    std::map<std::string, long> head, lines;
    std::istringstream text(bytes);
    for (std::string line; std::getline(text, line);) {
        for (const char* count : {"New ", "Gone ", "Jumped ", "Stale "})
            if (line.starts_with(count))
                head[std::string(count, 4)] = std::stol(line.substr(std::strlen(count)));
        if (line.size() > 11 && line[5] == ' ' && line[11] == ' ')
            ++lines[line.substr(0, 4)];
    }
    return !bytes.empty() && bytes.back() == '\n' && head.size() == 4 && head["New "] == lines["NEW "]
        && head["Gone"] == lines["GONE"] && head["Jump"] == lines["JUMP"] && head["Stal"] == lines["STAL"];
}

Files filesOf(const std::string& folder, bool (*wanted)(const std::string&))
{
    Files files;
    for (const auto& name : UpdateHome::filesBelow(folder))
        if (wanted(name))
            files[name] = readFile(folder + name);
    return files;
}

// A Palm database carries the moment it was written (bytes 36 to 43); a version
// matches when everything else does.
bool sameVersion(const std::string& name, const std::string& actual, const std::string& version)
{
    if (!name.ends_with(".pdb") || actual.size() != version.size() || actual.size() < 44)
        return actual == version;
    return actual.compare(0, 36, version, 0, 36) == 0
        && actual.compare(44, std::string::npos, version, 44, std::string::npos) == 0;
}

// The debug log's lines with their time stamps as milliseconds of the day.
std::vector<std::pair<double, std::string>> stampedLog(const std::string& path)
{
    static const std::regex stamped(R"(\[\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3})\] (.*)\r)");
    std::vector<std::pair<double, std::string>> lines;
    std::istringstream text(test::exists(path) ? readFile(path) : std::string());
    std::string line;
    std::smatch m;
    while (std::getline(text, line))
        if (std::regex_match(line, m, stamped))
            lines.emplace_back(
                ((std::stod(m[1]) * 60 + std::stod(m[2])) * 60 + std::stod(m[3])) * 1000 + std::stod(m[4]), m[5].str());
    return lines;
}

// Where a run was when it ended: the furthest stage whose first line its log holds
// (the processing checks for a critical update again, which begins no stage).
std::string stageReached(const std::string& log)
{
    std::string reached = "start-up";
    std::size_t furthest = 0;
    for (const auto& [ms, line] : stampedLog(log))
        for (std::size_t s = furthest; s < std::size(kStages); ++s)
            if (line.starts_with(kStages[s].firstLine)) {
                reached = kStages[s].name;
                furthest = s + 1;
            }
    return reached;
}

// What one home must hold after a kill.
struct Versions {
    Files old; // data sets before the new catalogue came
    Files fresh; // data sets of a complete run on the new catalogue
    Files oldOthers; // everything else of My TLEs before: downloads, the rejects: unchanged
    Files freshDownloads; // whole, when there at all
    std::set<std::string> workOfCheck; // the catalogue stage's work files: any state
    std::set<std::string> swept; // files whose temporaries a later run removes
};

::testing::AssertionResult onlyOldOrNew(const UpdateHome& home, const Versions& v)
{
    std::ostringstream problems;
    const std::string myTles = home.myTles();
    std::set<std::string> seen;
    for (const auto& name : UpdateHome::filesBelow(myTles)) {
        seen.insert(name);
        std::string standsFor;
        if (isTemporary(name, &standsFor)) {
            if (!v.swept.count(standsFor))
                problems << "\n  " << name << ": a temporary that no run sweeps";
            continue;
        }
        if (name.ends_with(".query") || v.workOfCheck.count(name))
            continue;
        const std::string bytes = readFile(myTles + name);
        if (name == kChanges) {
            if (!wholeReport(bytes))
                problems << "\n  " << name << ": not a whole report";
            continue;
        }
        const auto old = v.old.find(name);
        const auto fresh = v.fresh.find(name);
        if (isDataSet(name)) {
            if ((old == v.old.end() || !sameVersion(name, bytes, old->second))
                && (fresh == v.fresh.end() || !sameVersion(name, bytes, fresh->second)))
                problems << "\n  " << name << ": " << bytes.size() << " bytes, neither the old ("
                         << (old == v.old.end() ? 0 : old->second.size()) << ") nor the new ("
                         << (fresh == v.fresh.end() ? 0 : fresh->second.size()) << ") version";
        } else if (v.oldOthers.count(name)) {
            if (bytes != v.oldOthers.at(name))
                problems << "\n  " << name << ": changed, though nothing new was fetched for it";
        } else if (v.freshDownloads.count(name)) {
            if (bytes != v.freshDownloads.at(name))
                problems << "\n  " << name << ": " << bytes.size() << " bytes, not the whole download ("
                         << v.freshDownloads.at(name).size() << ")";
        } else {
            problems << "\n  " << name << ": a file no run should leave";
        }
    }
    for (const auto& [name, bytes] : v.old)
        if (!seen.count(name))
            problems << "\n  " << name << ": gone";
    for (const auto& [name, bytes] : v.oldOthers)
        if (!seen.count(name))
            problems << "\n  " << name << ": gone";
    const std::string text = problems.str();
    if (text.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text;
}

// The run files may be in any state after a kill, but only under their own names.
::testing::AssertionResult onlyRunFiles(const UpdateHome& home, const std::set<std::string>& names)
{
    std::ostringstream problems;
    for (const auto& name : UpdateHome::filesBelow(home.work(""))) {
        std::string standsFor;
        const bool temporary = isTemporary(name, &standsFor);
        if (!names.count(temporary ? standsFor : name))
            problems << "\n  " << name << (temporary ? ": a temporary that no run sweeps" : ": not a run file");
    }
    const std::string text = problems.str();
    if (text.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << text;
}

// True once `pid` has ended, without reaping it.
bool ended(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// The moment a line starting with `line` shows in the log of a run just started;
// nullopt when the program ended first. The log is read only as far as it grew.
std::optional<Clock::time_point> waitForLine(const UpdateHome& home, pid_t pid, const std::string& line)
{
    const std::string log = home.work("quillmaren.log");
    const std::string wanted = "] " + line;
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    // An update run starts work 5 seconds after start-up; watching its log closely
    // before that would only take time from the runs of the other homes.
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    while (Clock::now() < deadline) {
        std::error_code error;
        const auto size = std::filesystem::file_size(log, error);
        if (!error && size > text.size()) {
            std::ifstream in(log, std::ios::binary);
            in.seekg(static_cast<std::streamoff>(text.size()));
            text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (text.find(wanted) != std::string::npos)
                return Clock::now();
        }
        if (ended(pid))
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return std::nullopt;
}

// A kill: which home, which of its runs, the stage aimed at and how far into it.
struct Kill {
    int home = 0;
    int round = 0;
    std::size_t stage = 0;
    Ms into{};
};

// The kills: each stage's share spread evenly over the time that stage took in a
// complete run (its log's time stamps), then dealt out to the homes at random.
std::vector<Kill> planKills(const std::string& referenceLog, std::mt19937& random)
{
    const auto log = stampedLog(referenceLog);
    std::vector<double> starts;
    for (const Stage& stage : kStages) {
        const auto at = std::find_if(
            log.begin(), log.end(), [&stage](const auto& line) { return line.second.starts_with(stage.firstLine); });
        EXPECT_TRUE(at != log.end()) << stage.firstLine;
        starts.push_back(at == log.end() ? log.back().first : at->first);
    }
    starts.push_back(log.back().first);
    for (double& start : starts)
        if (start < starts[0]) // past midnight
            start += 86400000;

    std::vector<Kill> kills;
    std::uniform_real_distribution<double> within(0, 1);
    for (std::size_t s = 0; s < std::size(kStages); ++s)
        for (int k = 0; k < kStages[s].kills; ++k) {
            const double share = (k + within(random)) / kStages[s].kills;
            kills.push_back({0, 0, s, Ms(share * (starts[s + 1] - starts[s]))});
        }
    EXPECT_EQ(kills.size(), static_cast<std::size_t>(kKills));
    std::shuffle(kills.begin(), kills.end(), random);
    for (std::size_t i = 0; i < kills.size(); ++i) {
        kills[i].home = static_cast<int>(i) % kHomes;
        kills[i].round = static_cast<int>(i) / kHomes;
    }
    return kills;
}

// The catalogue numbers of a service's catalogue, in its order.
std::vector<std::string> catalogueNumbers(const LocalService& service)
{
    std::vector<std::string> numbers;
    std::istringstream lines(readFile(service.dataDir() + "source/catalog_2l.txt"));
    std::string line;
    while (std::getline(lines, line))
        if (line.starts_with("1 "))
            numbers.push_back(line.substr(2, 5));
    return numbers;
}

std::string stem(const std::string& archive)
{
    return archive.substr(0, archive.rfind('.'));
}

unsigned seedOfThisRun()
{
    if (const char* given = std::getenv("QM_SURVIVAL_SEED"))
        return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    return std::random_device{}();
}

// What every home's kills are checked against, once the reference run is done.
struct Plan {
    Versions versions; // all but the old files, which each home has of its own
    std::vector<Kill> kills;
    UpdateHome* reference = nullptr;
};

// A home's life: its first run on the old catalogue, its kills, and the run after them.
class KilledHome {
public:
    KilledHome(int number, const LocalService& oldService, const UpdateSettings& settings, const std::string& mine)
        : number_(number)
        , home_(oldService)
    {
        home_.writeSettings(settings);
        home_.addUserQuery("mine", mine);
    }

    // The first run, on the old catalogue.
    bool firstRun()
    {
        const test::ProgramOutcome run = home_.runUpdate();
        EXPECT_EQ(run.status, 0) << "home " << number_ << ": " << run.err;
        return run.status == 0;
    }

    // From now on the service has the new catalogue, and the user has one more set.
    // False when the home's data sets cannot tell old from new.
    bool nextDay(const Plan& plan, const LocalService& newService, const std::string& added)
    {
        v_ = plan.versions;
        v_.old = filesOf(home_.myTles(), isDataSet);
        v_.oldOthers
            = filesOf(home_.myTles(), [](const std::string& n) {
                  return !isDataSet(n) && !n.ends_with(".query") && n != kChanges;
              });
        // Old and new must differ, or a kill could not show which one a file is.
        for (const auto& [name, bytes] : v_.old)
            if (!v_.fresh.count(name) || sameVersion(name, bytes, v_.fresh.at(name))) {
                ADD_FAILURE() << "home " << number_ << ": " << name << " is not new in the new catalogue";
                return false;
            }
        home_.addUserQuery("added", added);
        home_.useService(newService);
        return true;
    }

    // Runs killed; `landed` gets where each one was when it ended.
    void kills(const Plan& plan, std::vector<std::string>& landed, std::atomic<int>& killedMidRun)
    {
        const std::set<std::string> runFiles{"catalog.idx", "ssr.dat", "newdata.log", "header.txt", "body.txt",
            "quillmaren.log", "stdout.txt", "stderr.txt", "newdata.pending", "changes.dat"};
        for (std::size_t k = 0; k < plan.kills.size(); ++k) {
            const Kill& kill = plan.kills[k];
            if (kill.home != number_)
                continue;
            std::ostringstream which;
            which << "kill " << k << " (home " << number_ << ", run " << kill.round << "): " << kill.into.count()
                  << " ms into " << kStages[kill.stage].name;
            SCOPED_TRACE(which.str());
            std::filesystem::remove(home_.work("quillmaren.log"));
            const pid_t pid = home_.startUpdate();
            if (const auto begun = waitForLine(home_, pid, kStages[kill.stage].firstLine)) {
                std::this_thread::sleep_until(*begun + std::chrono::duration_cast<Clock::duration>(kill.into));
                ::kill(pid, SIGKILL);
            }
            const test::ProgramOutcome run = test::waitForProgram(pid, home_.work(""));
            if (run.signal == SIGKILL) {
                ++killedMidRun;
                landed[k] = "killed in " + stageReached(home_.work("quillmaren.log"));
            } else {
                landed[k] = "ended first with status " + std::to_string(run.status);
                EXPECT_EQ(run.status, 0) << run.err;
            }
            EXPECT_TRUE(onlyOldOrNew(home_, v_)) << landed[k];
            EXPECT_TRUE(onlyRunFiles(home_, runFiles)) << landed[k];
        }
    }

    // The run after the kills completes and leaves what the reference run left, the
    // old downloads besides, and no temporary.
    void lastRun(const Plan& plan)
    {
        const test::ProgramOutcome run = home_.runUpdate();
        EXPECT_EQ(run.status, 0) << "home " << number_ << ": " << run.err;
        const UpdateHome& reference = *plan.reference;
        EXPECT_EQ(UpdateHome::filesBelow(home_.work("")), UpdateHome::filesBelow(reference.work("")))
            << "home " << number_;
        for (const char* table : {"catalog.idx", "ssr.dat"})
            EXPECT_TRUE(readFile(home_.work(table)) == readFile(reference.work(table)))
                << "home " << number_ << ": " << table;
        const auto all = [](const std::string&) { return true; };
        Files expected = filesOf(reference.myTles(), all);
        expected.insert(v_.oldOthers.begin(), v_.oldOthers.end());
        const Files now = filesOf(home_.myTles(), all);
        std::vector<std::string> names, wanted;
        for (const auto& [name, bytes] : now)
            names.push_back(name);
        for (const auto& [name, bytes] : expected)
            wanted.push_back(name);
        EXPECT_EQ(names, wanted) << "home " << number_ << ": every file, and no temporary";
        for (const auto& [name, bytes] : now)
            EXPECT_TRUE(expected.count(name)
                && (name == kChanges ? wholeReport(bytes) : sameVersion(name, bytes, expected.at(name))))
                << "home " << number_ << ": " << name;
    }

private:
    int number_;
    UpdateHome home_;
    Versions v_;
};

TEST(Survival, KilledRunsLeaveEveryDataSetOldOrNewAndTheNextRunCompletes)
{
    const unsigned seed = seedOfThisRun();
    std::cout << "survival seed " << seed << " (QM_SURVIVAL_SEED=" << seed << " replays these moments)\n";
    ::testing::Test::RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);

    const LocalService oldService = LocalService::fixture("local_service");
    // The next day's catalogue: new file names, other objects, other element sets.
    const LocalService newService(std::vector<std::string>{"--date", "20250101", "--variant", "1"});
    const UpdateSettings settings{.palm = true};
    const std::vector<std::string> oldNumbers = catalogueNumbers(oldService);
    const std::vector<std::string> newNumbers = catalogueNumbers(newService);
    ASSERT_GT(oldNumbers.size(), 1000u);
    ASSERT_GT(newNumbers.size(), 1000u);
    const std::string mine
        = oldNumbers[10] + "\r\n" + newNumbers[20] + "\r\n" + oldNumbers[700] + "\r\n" + newNumbers[900] + "\r\n";
    // A set the user adds once the first data sets are there: it has no old file.
    const std::string added = newNumbers[5] + "\r\n" + oldNumbers[5] + "\r\n";

    // A complete run on the new catalogue, side by side with the homes' first runs on
    // the old one, started as far apart as their kill runs will be, so that its stages
    // take as long as theirs.
    UpdateHome reference(newService);
    reference.writeSettings(settings);
    reference.addUserQuery("mine", mine);
    reference.addUserQuery("added", added);
    const pid_t referencePid = reference.startUpdate();

    std::promise<const Plan*> planned;
    const std::shared_future<const Plan*> plan = planned.get_future().share();
    std::vector<std::string> landed(kKills);
    std::atomic<int> killedMidRun = 0;
    std::vector<std::thread> threads;
    const auto started = Clock::now();
    for (int h = 0; h < kHomes; ++h)
        threads.emplace_back([&, h] {
            KilledHome home(h, oldService, settings, mine);
            std::this_thread::sleep_for((h + 1) * kStagger);
            if (!home.firstRun())
                return;
            const Plan* ready = plan.get();
            if (ready && home.nextDay(*ready, newService, added)) {
                home.kills(*ready, landed, killedMidRun);
                home.lastRun(*ready);
            }
        });

    Plan ready;
    // Also after a failed assertion below: every thread ends before what it uses goes.
    struct Join {
        std::vector<std::thread>& threads;
        void all()
        {
            for (auto& thread : threads)
                if (thread.joinable())
                    thread.join();
        }
        ~Join() { all(); }
    } join{threads};
    {
        // The homes wait for the plan, whatever happens here.
        struct Release {
            std::promise<const Plan*>& promise;
            const Plan* plan = nullptr;
            ~Release() { promise.set_value(plan); }
        } release{planned};
        const test::ProgramOutcome referenceRun = test::waitForProgram(referencePid, reference.work(""));
        ASSERT_EQ(referenceRun.status, 0) << referenceRun.err;
        Versions& v = ready.versions;
        v.fresh = filesOf(reference.myTles(), isDataSet);
        const std::string newCatalogue = newService.productName(1);
        const std::string newReport = newService.productName(25);
        v.workOfCheck = {stem(newCatalogue) + ".txt", stem(newCatalogue) + ".txt.tmp", stem(newCatalogue) + ".tmp",
            stem(newCatalogue) + ".err", stem(newReport) + ".txt"};
        v.freshDownloads = filesOf(reference.myTles(),
            [](const std::string& n) {
                return !isDataSet(n) && !n.ends_with(".query") && !n.ends_with(".err") && n != kChanges;
            });
        ASSERT_EQ(v.freshDownloads.size(), 2u) << "the catalogue and the report";
        ASSERT_GT(v.fresh.size(), 70u) << "35 categories, the comprehensive file and the user's, with Palm files";
        v.swept = {stem(newCatalogue) + ".txt", stem(newReport) + ".txt", kChanges};
        for (const Files* files : {&v.fresh, &v.freshDownloads})
            for (const auto& [name, bytes] : *files)
                v.swept.insert(name);
        ready.kills = planKills(reference.work("quillmaren.log"), random);
        ready.reference = &reference;
        release.plan = &ready;
    }
    join.all();

    std::cout << "the homes took " << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()
              << " s; " << killedMidRun << " of " << kKills << " runs killed mid-run\n";
    for (std::size_t k = 0; k < ready.kills.size(); ++k)
        std::cout << "  kill " << k << ": " << ready.kills[k].into.count() << " ms into "
                  << kStages[ready.kills[k].stage].name << ", " << landed[k] << "\n";
    // Most kills must hit a working program, or the test proves little.
    EXPECT_GE(killedMidRun, kKills / 2);
}

} // namespace
} // namespace qm::e2e
