#include "desktop/DBusNotifications.h"

#include "core/Version.h"
#include "platform/Latin1.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <cctype>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

namespace qm {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kConnectionName = QStringLiteral("quillmaren-notifications");
// A service that does not answer within this costs the program's end no more: a
// notification never delays a run by a second.
constexpr int kCallTimeoutMs = 800;

// A path as a D-Bus address value: bytes outside its plain set as %XX.
std::string addressValue(std::string_view path)
{
    std::string value;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("-_/.\\*").find(c) != std::string_view::npos) {
            value += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            value += escaped;
        }
    }
    return value;
}

// Services that take markup in the body (most do) would read "&" or "<" in a path as
// markup; the entities are read back as the characters.
QString escapedMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

} // namespace

std::string sessionBusAddress(const Environment& environment)
{
    if (const auto address = environment.variable("DBUS_SESSION_BUS_ADDRESS"); address && !address->empty())
        return *address;
    const auto runtime = environment.variable("XDG_RUNTIME_DIR");
    if (!runtime || runtime->empty())
        return {};
    const std::string socket = *runtime + "/bus";
    struct stat info { };
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return {};
    return "unix:path=" + addressValue(socket);
}

DBusNotifications::DBusNotifications(std::string address)
    : address_(std::move(address))
{
}

DBusNotifications::~DBusNotifications()
{
    for (QDBusPendingCall& call : inFlight_)
        call.waitForFinished();
    if (tried_)
        QDBusConnection::disconnectFromBus(kConnectionName);
}

bool DBusNotifications::connected()
{
    if (std::exchange(tried_, true))
        return connected_;
    if (address_.empty())
        return false;
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address_), kConnectionName);
    connected_ = bus.isConnected();
    if (connected_)
        bus.connect(
            QString(), kPath, kService, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    return connected_;
}

void DBusNotifications::notify(const Notification& notification)
{
    if (!connected())
        return;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notification.critical ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), latin1(kApplicationId));
    QStringList actions;
    if (onOpen)
        actions << QStringLiteral("default") << QStringLiteral("Open");
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << latin1(kProgramTitle) << 0u << latin1(kIconName) << latin1(notification.summary)
         << escapedMarkup(latin1(notification.body)) << actions << hints << -1;

    std::erase_if(inFlight_, [](const QDBusPendingCall& sent) { return sent.isFinished(); });
    const QDBusPendingCall pending = QDBusConnection(kConnectionName).asyncCall(call, kCallTimeoutMs);
    inFlight_.push_back(pending);
    if (!onOpen)
        return;
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        const QDBusPendingReply<uint> reply = *answered;
        if (reply.isValid())
            openable_.insert(reply.value());
        answered->deleteLater();
    });
}

void DBusNotifications::actionInvoked(uint id, const QString& action)
{
    if (action == QStringLiteral("default") && openable_.count(id) && onOpen)
        onOpen();
}

} // namespace qm
