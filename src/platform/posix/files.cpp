#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/encoding.h"
#include "platform/errors.h"
#include "platform/file_rules.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

// ---- text ----

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// ---- paths and folders ----

PathParts SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    std::size_t end = slash;
    while (end > 0 && path[end - 1] == '/') {
        --end;
    }
    return {end == 0 ? std::string("/") : path.substr(0, end), path.substr(slash + 1)};
}

void MakeFolders(const std::string& folder, mode_t mode) {
    if (folder.empty()) {
        throw FileError(ErrnoText(ENOENT));
    }
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (part.empty() || part.back() == '/') {
            continue;  // a doubled separator
        }
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
            throw FileError(ErrnoText(errno));
        }
    }
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        throw FileError(ErrnoText(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        throw FileError(ErrnoText(ENOTDIR));
    }
}

namespace {

bool WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A file that this procedure created and must not leave behind unless told it is finished.
class OwnedFile {
public:
    OwnedFile(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;
    ~OwnedFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!kept_) {
            unlink(name_.c_str());
        }
    }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    /// Closes the file, reporting what a delayed write error says.
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }
    void keep() { kept_ = true; }

private:
    int fd_;
    std::string name_;
    bool kept_ = false;
};

[[noreturn]] void Fail() {
    throw FileError(ErrnoText(errno));
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Whether `path` is a regular file that holds exactly `text`.
bool Holds(const std::string& path, std::string_view text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool same = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) == text.size();
    std::string bytes(text.size() + 1, '\0');  // one byte more, to see a file that grew meanwhile
    std::size_t got = 0;
    while (same && got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            same = n == 0;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    return same && std::string_view(bytes.data(), got) == text;
}

// A save's temporary is named as TemporaryPrefix says, then mkostemp's six letters or digits, beside the file it
// replaces.
constexpr TemporaryShape kTemporary{6, ""};

// Takes away the temporaries that killed saves left beside the file `parts` names: ordinary files of ours, of a
// temporary's name, stale. Failures change nothing.
void RemoveStaleTemporaries(const PathParts& parts) {
    DIR* folder = opendir(parts.folder.c_str());
    if (folder == nullptr) {
        return;
    }
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(folder)) {
        if (!IsTemporaryName(entry->d_name, parts.name, kTemporary)) {
            continue;
        }
        struct stat info {};
        if (fstatat(dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == geteuid() && IsStaleTemporary(std::chrono::seconds(now - info.st_mtime))) {
            unlinkat(dirfd(folder), entry->d_name, 0);
        }
    }
    closedir(folder);
}

// Why a save leaves something that is not a regular file where it is.
std::string NotAFileReason(mode_t mode) {
    if (S_ISDIR(mode)) {
        return ErrnoText(EISDIR);
    }
    if (S_ISFIFO(mode)) {
        return "Not a regular file but a named pipe (FIFO)";
    }
    if (S_ISSOCK(mode)) {
        return "Not a regular file but a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "Not a regular file but a device";
    }
    return "Not a regular file";
}

// The file that a save replaces: `path` itself, or the file that its symbolic links lead to, so that the links
// stay. Only a regular file, or a name that holds nothing yet, may be replaced: renaming over a device, a FIFO or
// a socket would destroy it (a device made into a small file, as root), and over a link that leads nowhere would
// put the list where the link was and break what the user linked. Throws FileError.
struct Replaceable {
    std::string path;
    std::optional<struct stat> existing;
};
Replaceable ReplaceableTarget(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return {path, std::nullopt};  // a new file: a missing folder fails once the temporary is made there
        }
        Fail();
    }
    std::string target = path;
    if (S_ISLNK(info.st_mode)) {
        char* resolved = realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            if (errno == ENOENT) {
                throw FileError("A symbolic link to a file that does not exist");
            }
            Fail();
        }
        target = resolved;
        std::free(resolved);
        if (stat(target.c_str(), &info) != 0) {
            Fail();
        }
    }
    if (!S_ISREG(info.st_mode)) {
        throw FileError(NotAFileReason(info.st_mode));
    }
    return {target, info};
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit, int* error) {
    int ignored = 0;
    int& failure = error != nullptr ? *error : ignored;
    failure = 0;
    // Looked at before it is opened, since opening alone may act on a device (a tape rewinds, a watchdog arms);
    // looked at again once open, since the name may have changed in between. A FIFO opened without O_NONBLOCK
    // would wait for a writer that never comes.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failure = errno;
        return std::nullopt;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::string bytes;
    std::array<char, 8192> chunk{};
    while (bytes.size() < limit) {
        const ssize_t n = read(fd, chunk.data(), std::min(chunk.size(), limit - bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failure = errno;
        }
        if (n <= 0) {
            break;  // the end, or an error: what was read so far is the text
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(n));
    }
    close(fd);
    return bytes;
}

void ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t newFileMode) {
    const Replaceable replaceable = ReplaceableTarget(path);
    const std::string& target = replaceable.path;
    RemoveStaleTemporaries(SplitPath(target));
    // The usual case at every logon: the file already holds these very bytes (the list as it was loaded, the
    // logon entry as it was written last time). Writing them again would only wait for the disk twice, at the
    // busiest moment of the session, for a file that would read back the same.
    if (Holds(target, text)) {
        return;
    }
    const PathParts parts = SplitPath(target);

    std::string pattern = parts.folder + "/" + TemporaryPrefix(parts.name) + "XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        Fail();
    }
    OwnedFile temporary(fd, pattern);
    if (!WriteAll(fd, text)) {
        Fail();
    }
    const std::optional<struct stat>& existing = replaceable.existing;
    if (existing) {
        // Keep the owner's group and the mode; only root can give the file back to another owner.
        [[maybe_unused]] const int ignored = fchown(fd, existing->st_uid, existing->st_gid);
    }
    if (fchmod(fd, existing ? (existing->st_mode & 07777) : newFileMode) != 0 || fsync(fd) != 0 || !temporary.close()) {
        Fail();
    }
    if (rename(temporary.name().c_str(), target.c_str()) != 0) {
        Fail();
    }
    temporary.keep();
    // The rename reaches the disk with the folder. Its failure (some file systems refuse fsync on a folder) no
    // longer threatens the old list, which is already replaced.
    const int folderFd = open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
}

// ---- the file services ----

char PosixFiles::separator() const {
    return '/';
}

bool PosixFiles::ordinaryFileExists(const std::string& path) {
    // The name is what follows the last separator: empty for a folder's path, hidden when it begins with a dot.
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (name >= path.size() || path[name] == '.') {
        return false;
    }
    return IsRegularFile(path);
}

bool PosixFiles::exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

bool PosixFiles::folderWritable(const std::string& folder) {
    return access(folder.c_str(), W_OK) == 0;
}

void PosixFiles::makeFolder(const std::string& folder) {
    MakeFolders(folder, 0700);
}

FileText PosixFiles::readText(const std::string& path) {
    FileText file;
    file.source = path;
    int error = 0;
    const std::optional<std::string> bytes = ReadRegularFile(file.source, kTextReadLimit, &error);
    if (bytes) {
        // A list saved as "Unicode" by a Windows editor (with its mark or without), or as UTF-8 with its mark by
        // Selvatro on Windows; UTF-8 beyond ASCII is taken as it is, and what is left (ASCII, or bytes that are not
        // UTF-8: a list copied from Windows) is read in Windows' own Western code page, which leaves ASCII as it is.
        // Everything is written back in UTF-8.
        file.text = DecodeText(*bytes, &Windows1252ToUtf8).text;
    }
    if (error != 0) {
        file.status = FileText::Status::Unreadable;
        file.reason = ErrnoText(error);
    } else {
        file.status = bytes ? FileText::Status::Read : FileText::Status::Absent;
    }
    return file;
}

void PosixFiles::replaceText(const std::string& path, const std::string& text, const std::string& /*readFrom*/) {
    ReplaceFileAtomically(path, text, 0644);
}

std::string PosixFiles::writeTemporaryText(const std::string& suffix, const std::string& text) {
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string folder = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
    std::string pattern = folder + "/selvatro-XXXXXX" + suffix;
    const int fd = mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        Fail();
    }
    OwnedFile file(fd, pattern);
    if (!WriteAll(fd, text) || !file.close()) {
        Fail();
    }
    file.keep();
    return pattern;
}

void PosixFiles::remove(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        Fail();
    }
}

void PosixFiles::setCurrentDrive(const std::string& /*path*/) {}

void PosixFiles::setCurrentFolder(const std::string& folder) {
    if (chdir(folder.c_str()) != 0) {
        Fail();
    }
}

}  // namespace selvatro::platform::posix
