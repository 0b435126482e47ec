#pragma once
// The freedesktop notification service (org.freedesktop.Notifications) on the session
// bus, through Qt's D-Bus module. Nothing here may hold up a run or speak on standard
// error: without a session bus nothing is tried, the bus is reached only when the
// first notification is due, and every call is asynchronous with a short time-out.
#include "desktop/RunNotifier.h"
#include "platform/Environment.h"

#include <QDBusPendingCall>
#include <QObject>
#include <set>
#include <string>
#include <vector>

namespace qm {

// The session bus: DBUS_SESSION_BUS_ADDRESS, else the user's bus socket
// $XDG_RUNTIME_DIR/bus when there is one; empty when there is none (a cron job). No
// other way is tried: guessing would start a bus of its own.
std::string sessionBusAddress(const Environment& environment);

class DBusNotifications : public QObject, public NotificationService {
    Q_OBJECT

public:
    // `address` of the session bus; empty: nothing is ever sent.
    explicit DBusNotifications(std::string address);
    // Gives each message still in flight the chance to leave before the connection
    // goes: waits for its answer, at most until its time-out.
    ~DBusNotifications() override;
    DBusNotifications(const DBusNotifications&) = delete;
    DBusNotifications& operator=(const DBusNotifications&) = delete;

    void notify(const Notification& notification) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);

private:
    bool connected();

    std::string address_;
    bool tried_ = false;
    bool connected_ = false;
    std::vector<QDBusPendingCall> inFlight_;
    // Our notifications that offer "Open", by the service's id.
    std::set<uint> openable_;
};

} // namespace qm
