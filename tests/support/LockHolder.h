#pragma once
// Another program on a folder's lock: a child process that takes the lock file's flock
// and keeps it until it is killed.
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

class LockHolder {
public:
    // `folder` ends in "/".
    explicit LockHolder(const std::string& folder)
    {
        const std::string path = folder + ".quillmaren.lock";
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // System calls only (the test program has threads); one that finds the lock
            // taken goes at once, with its copies of this program's files.
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
            const char held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            if (::write(ready[1], &held, 1) != 1 || held != 'y')
                ::_exit(3);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char held = 'n';
        holds_ = pid_ > 0 && ::read(ready[0], &held, 1) == 1 && held == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() { stop(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool holds() const { return holds_; }
    void stop()
    {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0)
            ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool holds_ = false;
};

} // namespace qm::test
