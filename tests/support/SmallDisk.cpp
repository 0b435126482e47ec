#include "SmallDisk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace qm::test {

SmallDisk::SmallDisk(std::uint64_t bytes)
{
    path_ = base_.file("disk/");
    if (::mkdir(path_.c_str(), 0777) != 0)
        throw std::runtime_error("cannot make " + path_);
    if (::geteuid() != 0) {
        reason_ = "a full disk is provoked with a small tmpfs, which needs root; not running as root";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("qmtest", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        reason_ = std::string("cannot mount a tmpfs to provoke a full disk: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        ::umount2(path_.c_str(), MNT_DETACH);
}

std::uint64_t SmallDisk::freeBytes() const
{
    struct statvfs st { };
    if (::statvfs(path_.c_str(), &st) != 0)
        throw std::runtime_error("statvfs " + path_);
    return std::uint64_t{st.f_bavail} * st.f_frsize;
}

void SmallDisk::leaveFree(std::uint64_t bytes)
{
    const std::uint64_t available = freeBytes();
    if (available <= bytes)
        return;
    const std::string filler = file(".filler" + std::to_string(fillers_++));
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + filler);
    const std::vector<char> block(4096, 'f');
    for (std::uint64_t left = available - bytes; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        const ssize_t put = ::write(fd, block.data(), n);
        if (put <= 0)
            break;
        left -= static_cast<std::uint64_t>(put);
    }
    ::close(fd);
}

} // namespace qm::test
