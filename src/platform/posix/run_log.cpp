#include "platform/posix/run_log.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include "platform/posix/posix_internal.h"
#include "platform/run_log_rules.h"

namespace selvatro::platform::posix {

namespace {

// A descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The log's own flags: never through a symbolic link, and never waiting on a FIFO that nobody reads (its open
// fails at once, or it is found out by IsRegular before anything is written).
constexpr int kLogFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool IsRegular(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteWhole(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

LocalTime Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return {};
    }
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

// The last `limit` bytes at most of the regular file `fd` holds, and whether they begin inside it.
std::optional<std::pair<std::string, bool>> Tail(int fd, std::size_t limit) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    const std::size_t from = size > limit ? size - limit : 0;
    std::string text(size - from, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(from + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;  // shortened meanwhile
        }
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
    return std::make_pair(std::move(text), from > 0);
}

}  // namespace

void WriteToStandardError(std::string_view line) noexcept {
    try {
        std::string text = "selvatro: ";
        text.append(line).append("\n");
        // SIGPIPE is held back around the write, and the one that a broken pipe raised is taken before it is let
        // through again: its default action would end the program in the middle of a run.
        sigset_t pipe{};
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t before{};
        pthread_sigmask(SIG_BLOCK, &pipe, &before);
        const bool broken = !WriteWhole(STDERR_FILENO, text) && errno == EPIPE;
        if (broken && sigismember(&before, SIGPIPE) == 0) {
            const timespec none{};
            sigtimedwait(&pipe, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    } catch (...) {
        // No memory for the line: it is lost, as on a full pipe.
    }
}

std::string StateHome() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    if (stateHome != nullptr && stateHome[0] == '/') {
        return stateHome;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : "";
    }
    return std::string(home) + "/.local/state";
}

RunLog::RunLog() = default;

RunLog::RunLog(std::string folder) : folder_(std::move(folder)) {
    path_ = folder_;
    path_.append("/").append(kLogFileName);
}

void RunLog::append(std::string_view line) noexcept {
    try {
        if (path_.empty()) {
            // Found at the first line rather than at start-up, where a home missing from the environment would
            // have the user database read.
            *this = RunLog(StateHome() + "/selvatro");
        }
        if (!trimmed_) {
            trimmed_ = true;
            trim();
        }
        const std::string text = LogLine(Now(), line);
        int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | kLogFlags, 0600);
        if (fd < 0 && errno == ENOENT) {
            MakeFolders(folder_, 0700);
            fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | kLogFlags, 0600);
        }
        const Descriptor log(fd);
        if (fd >= 0 && IsRegular(fd)) {
            // Appended in one call, so that the lines of two copies running at once never mix inside a line.
            WriteWhole(fd, text);
        }
    } catch (...) {
        // The log is a courtesy: a line that cannot be written never stops a run.
    }
}

// The log is rewritten whole, through a temporary renamed over it, so that it is never found half trimmed. A line
// that another copy appends between the read and the rename is lost; each line opens the file anew, so no copy
// goes on writing into the file that the rename replaced.
void RunLog::trim() const {
    std::optional<std::string> kept;
    {
        const Descriptor log(::open(path_.c_str(), O_RDONLY | kLogFlags));
        if (log.get() < 0) {
            return;
        }
        const auto tail = Tail(log.get(), kLogTailBytes);
        if (!tail) {
            return;
        }
        kept = TrimmedLog(tail->first, tail->second);
    }
    if (!kept) {
        return;
    }
    std::string temporary = folder_;
    temporary.append("/.").append(kLogFileName).append(".XXXXXX");
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) {
        return;
    }
    bool written = false;
    {
        const Descriptor file(fd);
        written = WriteWhole(fd, *kept);
    }
    if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary.c_str());
    }
}

}  // namespace selvatro::platform::posix
