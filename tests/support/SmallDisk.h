#pragma once
// A small file system of its own for one test, so that writes fail with "No space left
// on device" exactly as on a full disk. It is a tmpfs mounted on a fresh folder, which
// needs root (CI runs as root); elsewhere mounted() is false and the test skips itself
// with the reason:
//
//     SmallDisk disk;
//     if (!disk.mounted())
//         GTEST_SKIP() << disk.reason();
#include "TempDir.h"

#include <cstdint>
#include <string>

namespace qm::test {

class SmallDisk {
public:
    explicit SmallDisk(std::uint64_t bytes = 4 << 20);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    // The mounted folder, ending in "/".
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

    std::uint64_t freeBytes() const;
    // Takes up space with a filler file until about `bytes` stay free (to the page).
    void leaveFree(std::uint64_t bytes);

private:
    TempDir base_;
    std::string path_;
    bool mounted_ = false;
    std::string reason_;
    int fillers_ = 0;
};

} // namespace qm::test
