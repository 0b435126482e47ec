#pragma once
// Keeps two runs out of one folder: an exclusive flock on a lock file in it, shared by
// every run of one program and refused to every other program. The kernel drops the
// lock with the last descriptor, so a run that is killed never leaves the folder locked.
// The lock file must be a regular file: a symbolic link there is never followed, so
// nothing is made or locked outside the folder. One the user may only read still locks.
#include "platform/Errors.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qm {

class Environment;

// The lock file, in the folder it guards.
inline constexpr const char* kFolderLockFile = ".quillmaren.lock";
inline constexpr const char* kFolderBusyText = "Another run is using this folder";
inline constexpr const char* kFolderWaitText = "Waiting for another run in this folder";

// How long an unattended run waits for another to leave the folder, unless the
// environment says otherwise.
inline constexpr std::chrono::milliseconds kFolderWait = std::chrono::minutes(10);
inline constexpr const char* kFolderWaitVariable = "QUILLMAREN_LOCK_WAIT";

// Another program holds the folder (or the program ended while this one waited).
class FolderBusy : public IoError {
public:
    FolderBusy()
        : IoError(kFolderBusyText)
    {
    }
};

class FolderLock {
public:
    // One hold on the lock; the first hold of a FolderLock takes it, the last one gone
    // releases it, so a run and the runs it starts share it.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold();
        explicit operator bool() const { return lock_ != nullptr; }

    private:
        friend class FolderLock;
        explicit Hold(FolderLock* lock)
            : lock_(lock)
        {
        }
        FolderLock* lock_ = nullptr;
    };

    // `folder` ends in "/"; nothing is opened before the first hold.
    explicit FolderLock(const std::string& folder);
    // One lock over several folders (each ending in "/"), taken in the order given and
    // only whole: with the same order everywhere (the run folder, then My TLEs), two
    // programs never each hold one folder while waiting for the other's. A folder named
    // twice, or by two paths, is locked once.
    explicit FolderLock(std::vector<std::string> folders);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // A hold now, or FolderBusy while another program has the lock. IoError when a
    // lock file cannot be opened, or is a symbolic link or anything but a regular file.
    [[nodiscard]] Hold hold();
    // As hold(), but waits up to `wait` for the other program to let go, with the event
    // loop turning meanwhile; `waiting` is called once when the wait begins. FolderBusy
    // after the wait, and at once when the program is told to end.
    [[nodiscard]] Hold hold(std::chrono::milliseconds wait, const std::function<void()>& waiting);
    // A hold when the lock is free now; an empty one otherwise, also when the lock file
    // cannot be opened.
    [[nodiscard]] Hold tryHold();

private:
    bool take();
    void release();

    std::vector<std::string> paths_;
    std::vector<int> fds_; // while held, one per distinct lock file
    int holds_ = 0;
};

// A hold on `lock`, or an empty one when there is no lock to take.
inline FolderLock::Hold holdFolder(FolderLock* lock)
{
    return lock ? lock->hold() : FolderLock::Hold();
}

// The wait of kFolderWaitVariable, in whole seconds; kFolderWait when it is unset or
// empty. IoError for any other value.
std::chrono::milliseconds folderWaitFrom(const Environment& environment);

} // namespace qm
