#include "platform/FolderLock.h"

#include "platform/Environment.h"
#include "platform/EventPause.h"
#include "platform/File.h"
#include "platform/Halt.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

// flock cannot be waited on in the event loop, so a waiting run asks again this often.
constexpr std::chrono::milliseconds kRetryEvery{200};

} // namespace

FolderLock::Hold::Hold(Hold&& other) noexcept
    : lock_(std::exchange(other.lock_, nullptr))
{
}

FolderLock::Hold& FolderLock::Hold::operator=(Hold&& other) noexcept
{
    if (this != &other) {
        if (lock_)
            lock_->release();
        lock_ = std::exchange(other.lock_, nullptr);
    }
    return *this;
}

FolderLock::Hold::~Hold()
{
    if (lock_)
        lock_->release();
}

FolderLock::FolderLock(const std::string& folder)
    : path_(folder + kFolderLockFile)
{
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FolderLock::take()
{
    if (holds_ > 0) {
        ++holds_;
        return true;
    }
    // Close-on-exec: a program started during a run ("post.sh", the desktop's
    // handlers) must not keep the folder locked after the run.
    int fd;
    do {
        fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throwIoError("Unable to open", path_, errno);
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return false;
        throwIoError("Unable to lock", path_, err);
    }
    fd_ = fd;
    holds_ = 1;
    return true;
}

void FolderLock::release()
{
    if (holds_ == 0 || --holds_ > 0)
        return;
    // Closing the only descriptor lets go of the lock.
    ::close(fd_);
    fd_ = -1;
}

FolderLock::Hold FolderLock::hold()
{
    if (!take())
        throw FolderBusy();
    return Hold(this);
}

FolderLock::Hold FolderLock::tryHold()
{
    try {
        return take() ? Hold(this) : Hold();
    } catch (const IoError&) {
        return {};
    }
}

FolderLock::Hold FolderLock::hold(std::chrono::milliseconds wait, const std::function<void()>& waiting)
{
    if (take())
        return Hold(this);
    if (wait.count() <= 0)
        throw FolderBusy();
    if (waiting)
        waiting();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || haltRequested() || !pauseWithEvents(std::min(left, kRetryEvery)))
            break;
        if (take())
            return Hold(this);
    }
    throw FolderBusy();
}

std::chrono::milliseconds folderWaitFrom(const Environment& environment)
{
    const std::optional<std::string> value = environment.variable(kFolderWaitVariable);
    if (!value || value->empty())
        return kFolderWait;
    // A day at most: any longer and a stuck run would hold up every later one unnoticed.
    constexpr int kMaxSeconds = 86400;
    const bool digits
        = value->size() <= 5 && std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(*value) > kMaxSeconds)
        throw IoError(std::string(kFolderWaitVariable) + " must be a number of seconds from 0 to "
            + std::to_string(kMaxSeconds) + ", not \"" + *value + "\".");
    return std::chrono::seconds(std::stoi(*value));
}

} // namespace qm
