#include "desktop/Links.h"

#include "core/Version.h"
#include "service/Hosts.h"
#include "service/LoginForm.h"

namespace qm {

namespace {

// Opening message and idle text go straight to the status line: these are not events
// worth a log line.
void openItem(Reporter& reporter, ShellLauncher& launcher, std::string_view opening, const std::string& item,
    std::string_view idle)
{
    reporter.setStatusText(opening);
    launcher.open(item);
    reporter.setStatusText(reporter.idleText(idle));
}

} // namespace

std::string homePageAddress()
{
    return publisherAddress();
}

std::string loginPageAddress(std::string_view username, std::string_view password)
{
    return serviceAddress() + "/perl/login.pl?" + loginFields(username, password);
}

std::string helpPageAddress()
{
    return publisherAddress() + "/Skarvelin/QuillmarenHelp.asp";
}

std::string feedbackMailAddress()
{
    return "mailto:" + std::string(kFeedbackAddress)
        + "?subject=" + formEncode(feedbackSubject());
}

void OpenMyTLEs(Reporter& reporter, ShellLauncher& launcher, const std::string& myTLEsDir)
{
    openItem(reporter, launcher, "Opening My TLEs folder", myTLEsDir, "Done");
}

void OpenVantoreal(Reporter& reporter, ShellLauncher& launcher)
{
    openItem(reporter, launcher, "Opening Vantoreal home page", homePageAddress(), "Ready");
}

void OpenSkarvelin(Reporter& reporter, ShellLauncher& launcher, std::string_view username, std::string_view password)
{
    openItem(reporter, launcher, "Logging in to Skarvelin home page", loginPageAddress(username, password), "Ready");
}

void OpenOnlineHelp(Reporter& reporter, ShellLauncher& launcher)
{
    openItem(reporter, launcher, "Opening help page", helpPageAddress(), "Ready");
}

} // namespace qm
