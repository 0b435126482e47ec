// The program itself, started without a display as cron starts it.
#include "ProgramRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(HeadlessRun, StandardErrorCarriesOnlyTheProgramsOwnMessages)
{
    qm::test::TempDir dir;
    // A file where the documents folder should be: the working folder cannot be made,
    // so the run stops at once with one error, as an unattended run would report it.
    qm::test::writeFile(dir.file("Documents"), "not a folder");
    std::vector<std::string> environment{
        "PATH=/usr/bin:/bin", "HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")};
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment.push_back(std::string("ASAN_OPTIONS=") + asan);

    const qm::test::ProgramOutcome run = qm::test::runProgram(QM_PROGRAM_FILE, {}, dir.path(), environment);
    EXPECT_EQ(run.status, 1);
    // Without a runtime folder and a display, Qt would have had its say here too.
    EXPECT_EQ(run.err, "quillmaren: error: Unable to create directory: " + dir.path() + "Documents/My TLEs/ [OK]\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(qm::test::exists(dir.file("config/quillmaren/quillmaren.ini"))) << "a stop at start-up saves nothing";
}

TEST(HeadlessRun, HelpAndVersionAnswerWithoutTouchingAnything)
{
    namespace fs = std::filesystem;
    const struct {
        const char* argument;
        int status;
        const char* outStart; // empty: nothing on standard output
    } cases[] = {
        {"--help", 0, "Usage: quillmaren [-update]\n"},
        {"--version", 0, "quillmaren 1.5.8\n"},
        // Anything else starts the program as before; here it stops at the documents folder.
        {"--helpme", 1, ""},
    };
    for (const auto& c : cases) {
        qm::test::TempDir dir;
        for (const char* folder : {"bin", "home", "work"})
            fs::create_directories(dir.file(folder));
        fs::copy_file(QM_PROGRAM_FILE, dir.file("bin/quillmaren"));
        qm::test::writeFile(dir.file("home/Documents"), "not a folder");
        std::vector<std::string> environment{"PATH=/usr/bin:/bin", "HOME=" + dir.file("home")};
        if (const char* asan = std::getenv("ASAN_OPTIONS"))
            environment.push_back(std::string("ASAN_OPTIONS=") + asan);

        const qm::test::ProgramOutcome run
            = qm::test::runProgram(dir.file("bin/quillmaren"), {c.argument}, dir.file("work/"), environment);
        EXPECT_EQ(run.status, c.status) << c.argument;
        EXPECT_TRUE(run.out.starts_with(c.outStart)) << run.out;
        if (c.status != 0)
            continue;
        EXPECT_EQ(run.err, "") << c.argument;
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            files.push_back(fs::relative(entry.path(), dir.path()).string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files,
            (std::vector<std::string>{
                "bin", "bin/quillmaren", "home", "home/Documents", "work", "work/stderr.txt", "work/stdout.txt"}))
            << c.argument;
    }
    // The usage names what the README documents.
    qm::test::TempDir dir;
    const std::string help
        = qm::test::runProgram(QM_PROGRAM_FILE, {"--help"}, dir.path(), {"ASAN_OPTIONS=detect_leaks=0"}).out;
    for (const char* item : {"-update", "QUILLMAREN_SERVICE_HOST", "QUILLMAREN_PUBLISHER_HOST", "QUILLMAREN_CA_FILE",
             "QUILLMAREN_RUN_FOLDER", "http_proxy", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "QT_QPA_PLATFORM",
             "Exit status:\n  0", "\n  1", "\n  2"})
        EXPECT_NE(help.find(item), std::string::npos) << item;
}

} // namespace
