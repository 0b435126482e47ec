// Another program that holds a folder's lock, for tests:
//   folder_lock_holder <folder ending in "/"> <seconds>
// prints "held" and keeps the lock that long (or until it is killed), or prints "busy"
// and exits with 3 while someone else has it.
#include "platform/FolderLock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 64;
    qm::FolderLock lock(argv[1]);
    const qm::FolderLock::Hold hold = lock.tryHold();
    std::puts(hold ? "held" : "busy");
    std::fflush(stdout);
    if (!hold)
        return 3;
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
    return 0;
}
