// The program itself, started without a display as cron starts it.
#include "ProgramRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

} // namespace
