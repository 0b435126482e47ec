#include "service/SocketWait.h"

#include "platform/Halt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace qm {

WaitEnd waitForSocket(int fd, SocketReady what, int timeoutMs)
{
    // Once the program is ending, no wait starts: the transfer gives up at once.
    if (haltRequested())
        return WaitEnd::Ending;
    QEventLoop loop;
    QSocketNotifier notifier(fd, what == SocketReady::Read ? QSocketNotifier::Read : QSocketNotifier::Write);
    // A flag rather than the loop's exit code: quitting the application ends every
    // running loop, and that must not read as a ready socket.
    bool ready = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&loop, &ready] {
        ready = true;
        loop.quit();
    });
    bool timedOut = false;
    QTimer timer;
    if (timeoutMs > 0) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&loop, &timedOut] {
            timedOut = true;
            loop.quit();
        });
        timer.start(timeoutMs);
    }
    // A fatal stop decided by a handler that ran meanwhile ends the wait soon.
    QTimer haltCheck;
    QObject::connect(&haltCheck, &QTimer::timeout, &loop, [&loop] {
        if (haltRequested())
            loop.quit();
    });
    haltCheck.start(50);
    loop.exec();
    if (haltRequested())
        return WaitEnd::Ending;
    if (ready)
        return WaitEnd::Ready;
    // Neither the socket nor the timer ended the loop: the application did.
    return timedOut ? WaitEnd::TimedOut : WaitEnd::Ending;
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

} // namespace qm
