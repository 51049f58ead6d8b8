#include "platform/posix/single_copy.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_rules.h"

namespace selvatro::platform::posix {

namespace {

bool IsPrivateFolderOfOurs(const std::string& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    // /tmp is shared: another user may have made the name first, to share or to steal our lock.
    const std::string folder = "/tmp/selvatro-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolderOfOurs(folder) ? folder : std::string();
}

CopyLock::CopyLock(const std::string& identity) {
    const std::string folder = RuntimeFolder();
    if (folder.empty()) {
        return;
    }
    // The same folder through a symbolic link is the same list.
    std::string real = identity;
    if (char* resolved = ::realpath(identity.c_str(), nullptr)) {
        real = resolved;
        std::free(resolved);
    }
    const std::string stem = folder + "/selvatro-" + ListIdentity(real, "/");
    lockPath_ = stem + ".lock";
    socketPath_ = stem + ".socket";
}

CopyLock::~CopyLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

CopyLock::Result CopyLock::tryTake() {
    if (fd_ >= 0) {
        return Result::Taken;
    }
    if (lockPath_.empty()) {
        return Result::Unavailable;
    }
    const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Result::Unavailable;
    }
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        fd_ = fd;
        return Result::Taken;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? Result::HeldElsewhere : Result::Unavailable;
}

}  // namespace selvatro::platform::posix
