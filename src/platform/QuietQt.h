#pragma once
// Qt's own notices on standard error. Without a display they are noise (the offscreen
// plugin's remarks, a missing runtime folder...), and under cron every line of
// standard error is mailed, so only Qt's critical and fatal messages pass.
#include <QtGlobal>

namespace qm {

// QT_QPA_PLATFORM names a platform that draws nowhere ("offscreen", "minimal").
bool offscreenPlatformChosen();
bool passesQuietFilter(QtMsgType type);
// Installs the filter for the rest of the process.
void quietQtNotices();

} // namespace qm
