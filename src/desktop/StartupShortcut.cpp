#include "desktop/StartupShortcut.h"

#include "core/Reporter.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Paths.h"

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace qm {

namespace {

// A desktop entry's string value: backslash escapes for the characters a line cannot hold.
std::string entryString(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == ' ' && i == 0)
            out += "\\s";
        else
            out += c;
    }
    return out;
}

// One argument of an Exec line: "%" doubled; quoted, with its specials escaped, when it
// holds a character the launcher would otherwise split or interpret.
std::string execArgument(std::string_view arg)
{
    const bool quote = arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string_view::npos;
    std::string out;
    for (const char c : arg) {
        if (c == '%')
            out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += {'\\', c};
        else
            out += c;
    }
    return entryString(quote ? "\"" + out + "\"" : out);
}

// Where logs and run files go when the program's own folder is not writable.
std::string stateFolder()
{
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const std::string base = xdg && *xdg == '/' ? std::string(xdg) : QDir::homePath().toStdString() + "/.local/state";
    return base + "/quillmaren/";
}

} // namespace

void StartupShortcut::setTarget(std::string programFile, std::string startIn)
{
    target_ = std::move(programFile);
    startIn_ = std::move(startIn);
}

std::string StartupShortcut::path() const
{
    return GetShellFolder(folders_, 3) + kFileName;
}

bool StartupShortcut::exists() const
{
    return fileExists(path());
}

void StartupShortcut::create() const
{
    if (target_.empty() || !fileExists(target_))
        throw IoError("File " + target_ + " not found.");

    // A logon start writes its log and run files into the folder it starts in.
    std::string workingFolder = startIn_;
    if (workingFolder.empty() || ::access(workingFolder.c_str(), W_OK) != 0) {
        workingFolder = stateFolder();
        std::error_code ignored;
        std::filesystem::create_directories(workingFolder, ignored);
    }

    const std::string entry = path();
    std::error_code ignored;
    std::filesystem::create_directories(extractFilePath(entry), ignored);

    const std::string title(kProgramTitle);
    ReplacingFile file(entry);
    BufferedWriter out(file.tempPath());
    out.write("[Desktop Entry]\n"
              "Type=Application\n");
    out.write("Name=" + title + "\n");
    out.write("Comment=" + title + "\n");
    out.write("Exec=" + execArgument(target_) + "\n");
    out.write("Path=" + entryString(workingFolder) + "\n");
    out.write("Icon=quillmaren\n"
              "Categories=Science;Astronomy;\n");
    out.close();
    file.commit();
}

bool StartupShortcut::remove() const
{
    return removeFile(path());
}

} // namespace qm
