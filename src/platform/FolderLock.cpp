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
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

// flock cannot be waited on in the event loop, so a waiting run asks again this often.
constexpr std::chrono::milliseconds kRetryEvery{200};

int openRetrying(const std::string& path, int flags)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

[[noreturn]] void refuse(const std::string& path, const char* why)
{
    throw IoError("Unable to lock " + path + ": " + why);
}

// The lock file, made when missing. A symbolic link in its place is not followed (it
// could lead the file out of the folder), nor is anything but a regular file taken;
// flock needs only a descriptor, so one the user may not write is opened for reading.
// Close-on-exec: a program started during a run ("post.sh", the desktop's handlers)
// must not keep the folder locked after the run. Non-blocking: a pipe must not stall.
int openLockFile(const std::string& path)
{
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = openRetrying(path, O_RDWR | O_CREAT | kFlags);
    int err = errno;
    if (fd < 0 && (err == EACCES || err == EROFS)) {
        fd = openRetrying(path, O_RDONLY | kFlags);
        if (fd < 0 && errno != ENOENT)
            err = errno;
    }
    if (fd < 0) {
        struct stat info { };
        if (err == ELOOP && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            refuse(path, "it is a symbolic link");
        if (err == EISDIR)
            refuse(path, "it is not a regular file");
        throwIoError("Unable to open", path, err);
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        refuse(path, "it is not a regular file");
    }
    return fd;
}

bool sameFile(int a, int b)
{
    struct stat first { };
    struct stat second { };
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

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
    : FolderLock(std::vector<std::string>{folder})
{
}

FolderLock::FolderLock(std::vector<std::string> folders)
{
    for (std::string& folder : folders)
        paths_.push_back(std::move(folder) + kFolderLockFile);
}

FolderLock::~FolderLock()
{
    for (int fd : fds_)
        ::close(fd);
}

bool FolderLock::take()
{
    if (holds_ > 0) {
        ++holds_;
        return true;
    }
    // Each lock file in turn; a busy or failing one lets go of those taken before it.
    struct Taken {
        std::vector<int> fds;
        ~Taken()
        {
            for (int fd : fds)
                ::close(fd);
        }
    } taken;
    for (const std::string& path : paths_) {
        const int fd = openLockFile(path);
        if (std::any_of(taken.fds.begin(), taken.fds.end(), [fd](int held) { return sameFile(fd, held); })) {
            ::close(fd); // a second descriptor of a held file would wait for this very lock
            continue;
        }
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK)
                return false;
            throwIoError("Unable to lock", path, err);
        }
        taken.fds.push_back(fd);
    }
    fds_ = std::exchange(taken.fds, {});
    holds_ = 1;
    return true;
}

void FolderLock::release()
{
    if (holds_ == 0 || --holds_ > 0)
        return;
    // Closing the only descriptors lets go of the lock.
    for (int fd : fds_)
        ::close(fd);
    fds_.clear();
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
