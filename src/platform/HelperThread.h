#pragma once
// The second thread of a two-core pipeline, started on another processor than its
// creator's, with the creator kept on its own processor until join(). Left alone, Linux
// starts a new thread on its creator's processor and moves it only when the idle one
// next balances (milliseconds later), and wakes each side of a producer and consumer
// pair next to the other: the two then take turns on one core while the other idles.
// With a single processor allowed, nothing is pinned.
#include <functional>
#include <pthread.h>
#include <sched.h>
#include <sys/types.h>

namespace qm {

class HelperThread {
public:
    // Runs `body`, which must not throw, on the new thread. Raises std::system_error
    // when no thread can be started.
    explicit HelperThread(std::function<void()> body);
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread() { join(); }
    // Waits for the body to return; the creator may use every processor again.
    void join();
    bool joinable() const { return running_; }

private:
    static void* start(void* self);
    std::function<void()> body_;
    pthread_t thread_{};
    bool running_ = false;
    pid_t creator_ = 0;
    bool holding_ = false;
    cpu_set_t creatorSet_{};
};

} // namespace qm
