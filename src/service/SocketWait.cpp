#include "service/SocketWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace qm {

bool waitForSocket(int fd, SocketReady what, int timeoutMs)
{
    QEventLoop loop;
    QSocketNotifier notifier(fd, what == SocketReady::Read ? QSocketNotifier::Read : QSocketNotifier::Write);
    // A flag rather than the loop's exit code: quitting the application ends every
    // running loop, and that must not read as a ready socket.
    bool ready = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&loop, &ready] {
        ready = true;
        loop.quit();
    });
    QTimer timer;
    if (timeoutMs > 0) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&loop] { loop.quit(); });
        timer.start(timeoutMs);
    }
    loop.exec();
    return ready;
}

void EventPump::pumpIfDue()
{
    constexpr auto interval = std::chrono::milliseconds(50);
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < interval)
        return;
    last_ = now;
    QCoreApplication::processEvents();
}

void processEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&loop] { loop.quit(); });
    loop.exec();
}

} // namespace qm
