#pragma once
// The addresses the program hands to the desktop, and the menu commands that open them.
#include "core/Reporter.h"
#include "platform/ShellLauncher.h"

#include <string>
#include <string_view>

namespace qm {

// The publisher's home page.
std::string homePageAddress();
// The catalogue service's login page, logged in with the account.
std::string loginPageAddress(std::string_view username, std::string_view password);
// The online help page.
std::string helpPageAddress();
// A new mail to the author with the feedback subject.
std::string feedbackMailAddress();

// Each shows its opening message, hands its item to the launcher and returns the
// status line to its idle text (the tray hint while the scheduler keeps one there).
void OpenMyTLEs(Reporter& reporter, ShellLauncher& launcher, const std::string& myTLEsDir);
void OpenVantoreal(Reporter& reporter, ShellLauncher& launcher);
void OpenSkarvelin(Reporter& reporter, ShellLauncher& launcher, std::string_view username, std::string_view password);
void OpenOnlineHelp(Reporter& reporter, ShellLauncher& launcher);

} // namespace qm
