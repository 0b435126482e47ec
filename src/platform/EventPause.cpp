#include "platform/EventPause.h"

#include "platform/Halt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace qm {

bool pauseWithEvents(std::chrono::milliseconds time)
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(time);
        return !haltRequested();
    }
    QEventLoop loop;
    bool elapsed = false;
    QTimer::singleShot(time, Qt::PreciseTimer, &loop, [&loop, &elapsed] {
        elapsed = true;
        loop.quit();
    });
    loop.exec();
    return elapsed && !haltRequested();
}

} // namespace qm
