#pragma once
// A throw-away home for the real program: its own documents folder, a copy of the
// program with its settings file beside it, and a working folder to run it in, all
// pointed at a local catalogue service.
#include "LocalService.h"
#include "ProgramRun.h"
#include "TempDir.h"

#include <string>
#include <vector>

namespace qm::e2e {

// The settings an update run starts from.
struct UpdateSettings {
    bool twoLine = true;
    // Every data-set row including "Complete Catalog"; otherwise none.
    bool everyRow = true;
    // "Vantoreal File Extension": 0 ".txt", 1 ".tle".
    int extension = 0;
    // "Generate Palm Format": a Palm database beside every data set.
    bool palm = false;
    // "OMM Data Sets": 0 none, 1 XML, 2 CSV, 3 JSON.
    int omm = 0;
    std::string password = test::LocalService::kPassword;
    // A proxy on 127.0.0.1 saved with "Use Proxy" and its credentials retained; 0: none.
    int proxyPort = 0;
    std::string proxyUser = {};
    std::string proxyPassword = {};
    bool checkCriticalUpdates = true;
};

class UpdateHome {
public:
    explicit UpdateHome(const test::LocalService& service);

    void writeSettings(const UpdateSettings& settings);
    // Later runs ask this service instead (one that serves newer data, say).
    void useService(const test::LocalService& service) { service_ = &service; }
    // A ".query" file in the "User" folder of My TLEs.
    void addUserQuery(const std::string& name, const std::string& text);
    // "quillmaren -update" in the working folder, headless; over https it trusts the
    // service's own CA.
    test::ProgramOutcome runUpdate();
    // The same run without waiting for it: its process number, for test::waitForProgram
    // with work("").
    pid_t startUpdate();
    // The same in the working folder `folder` of the home (made when missing; its files
    // by folder(folder + "/name")), with further environment variables: a second
    // program of the same user.
    pid_t startUpdateIn(const std::string& folder, const std::vector<std::string>& environment);
    // The copy of the program, and the environment its runs get, with `extra` added.
    std::string program() const { return dir_.file("bin/quillmaren"); }
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;
    // A file or folder of the home's own folder.
    std::string folder(const std::string& name) const { return dir_.file(name); }

    // My TLEs, ending in "/".
    std::string myTles() const { return dir_.path() + "home/Documents/My TLEs/"; }
    // A file of the working folder (the program's current directory).
    std::string work(const std::string& name) const { return dir_.path() + "work/" + name; }
    std::string settingsText() const;
    // The debug log's messages, time stamps removed; every line must carry one.
    std::vector<std::string> logMessages() const;
    // Every file below `folder` (ending in "/"), relative to it, sorted; the folder lock
    // file left out.
    static std::vector<std::string> filesBelow(const std::string& folder);

private:
    const test::LocalService* service_;
    test::TempDir dir_;
};

} // namespace qm::e2e
