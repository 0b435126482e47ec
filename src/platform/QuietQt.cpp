#include "platform/QuietQt.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace qm {

namespace {

QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!passesQuietFilter(type))
        return;
    if (previousHandler) {
        previousHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

bool offscreenPlatformChosen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform)
        return false;
    const std::string_view name(platform);
    // "offscreen:fontengine=..." carries options after the name.
    const std::string_view base = name.substr(0, name.find(':'));
    return base == "offscreen" || base == "minimal";
}

bool passesQuietFilter(QtMsgType type)
{
    return type == QtCriticalMsg || type == QtFatalMsg;
}

void quietQtNotices()
{
    previousHandler = qInstallMessageHandler(quietHandler);
}

} // namespace qm
