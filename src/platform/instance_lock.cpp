#include "platform/instance_lock.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
// Open, and so locked, until the process ends.
int heldLock = -1;
}

bool InstanceLock::TryTake()
{
    if (heldLock >= 0)
        return true;
    if (MakeFolders(ConfigDir()) != 0)
        return false;
    const std::string path = ConfigDir() + "/orvandel.lock";
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        Log(path + " could not be opened: " + std::strerror(errno));
        return false;
    }
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        ::close(file);
        return false;
    }
    heldLock = file;
    return true;
}
