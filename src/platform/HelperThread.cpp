#include "platform/HelperThread.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace qm {

HelperThread::HelperThread(std::function<void()> body)
    : body_(std::move(body))
{
    pthread_attr_t attr;
    if (const int error = pthread_attr_init(&attr))
        throw std::system_error(error, std::generic_category(), "pthread_attr_init");
    creator_ = ::gettid();
    const int cpu = ::sched_getcpu();
    cpu_set_t others;
    CPU_ZERO(&others);
    if (cpu >= 0 && cpu < CPU_SETSIZE && ::sched_getaffinity(creator_, sizeof creatorSet_, &creatorSet_) == 0
        && CPU_ISSET(cpu, &creatorSet_) && CPU_COUNT(&creatorSet_) > 1) {
        CPU_OR(&others, &others, &creatorSet_);
        CPU_CLR(cpu, &others);
        cpu_set_t own;
        CPU_ZERO(&own);
        CPU_SET(cpu, &own);
        holding_ = ::sched_setaffinity(creator_, sizeof own, &own) == 0;
        if (holding_)
            pthread_attr_setaffinity_np(&attr, sizeof others, &others);
    }
    int error = pthread_create(&thread_, &attr, &HelperThread::start, this);
    if (error != 0 && holding_) {
        // The processor set may have changed under us: start it anywhere.
        pthread_attr_destroy(&attr);
        pthread_attr_init(&attr);
        error = pthread_create(&thread_, &attr, &HelperThread::start, this);
    }
    pthread_attr_destroy(&attr);
    if (error != 0) {
        if (holding_)
            ::sched_setaffinity(creator_, sizeof creatorSet_, &creatorSet_);
        holding_ = false;
        throw std::system_error(error, std::generic_category(), "pthread_create");
    }
    running_ = true;
}

void* HelperThread::start(void* self)
{
    static_cast<HelperThread*>(self)->body_();
    return nullptr;
}

void HelperThread::join()
{
    if (running_) {
        pthread_join(thread_, nullptr);
        running_ = false;
    }
    if (holding_) {
        ::sched_setaffinity(creator_, sizeof creatorSet_, &creatorSet_);
        holding_ = false;
    }
}

} // namespace qm
