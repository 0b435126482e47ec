#pragma once
// Doubles for everything the main window asks the desktop for, and a fixture that
// builds the window on them in a fresh folder.
#include "app/TfrmMain.h"
#include "platform/Halt.h"

#include "ScriptedPrompts.h"
#include "TempDir.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace qm::test {

struct FixedProgram : ProgramLocation {
    std::string path;
    std::string programFile() const override { return path; }
};

struct Folders : ShellFolders {
    std::string documents;
    std::string folder(int index) const override { return index == 4 ? documents : std::string(); }
};

struct Sources : SystemSources {
    std::optional<std::string> osRelease() const override { return "PRETTY_NAME=\"Test OS 1\"\n"; }
    std::optional<std::string> kernelRelease() const override { return "6.1"; }
    std::optional<std::string> kernelVersion() const override { return "#1"; }
    std::optional<std::string> machine() const override { return "x86_64"; }
    std::optional<std::string> cpuinfo() const override { return std::nullopt; }
};

struct Desktop : DesktopGeometry {
    PixelSize size{1024, 768};
    PixelSize primaryScreen() const override { return size; }
    PixelSize virtualDesktop() const override { return size; }
};

struct Launcher : ShellLauncher {
    std::vector<std::string> opened;
    void open(const std::string& item, const std::string&) override { opened.push_back(item); }
};

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }

    WindowTest()
        : cwd(dir.path())
    {
        ::mkdir(dir.file("bin").c_str(), 0755);
        ::mkdir(dir.file("docs").c_str(), 0755);
        program.path = dir.file("bin/quillmaren");
        folders.documents = dir.file("docs");
        clearHalt();
    }
    ~WindowTest() override { clearHalt(); }

    std::string ini() const { return dir.file("bin/quillmaren.ini"); }

    MainServices services(std::vector<std::string> args = {})
    {
        MainServices s;
        s.prompts = &prompts;
        s.launcher = &launcher;
        s.program = &program;
        s.folders = &folders;
        s.system = &sources;
        s.desktop = &desktop;
        s.tray = &tray;
        s.arguments = std::move(args);
        return s;
    }

    std::unique_ptr<TfrmMain> makeForm(std::vector<std::string> args = {})
    {
        return std::make_unique<TfrmMain>(services(std::move(args)));
    }

    std::unique_ptr<TfrmMain> start(std::vector<std::string> args = {})
    {
        auto form = makeForm(std::move(args));
        form->FormCreate();
        return form;
    }

    TempDir dir;
    ScopedCurrentDir cwd;
    ScriptedPrompts prompts;
    Launcher launcher;
    FixedProgram program;
    Folders folders;
    Sources sources;
    Desktop desktop;
    PlainTrayIcon tray;
};

} // namespace qm::test
