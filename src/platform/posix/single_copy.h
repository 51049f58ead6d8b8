#pragma once

// One running copy per list. The claim on a list is an exclusive lock on a file in the user's runtime folder,
// named from the list's identity; the system drops the lock with the process however it ends, so a killed copy
// leaves no claim behind. Beside the lock lies the name of the local socket on which the copy holding it listens
// for later starts. (On Windows a named mutex plays the lock's part and a message to the first window the
// socket's.)

#include <functional>
#include <string>

namespace selvatro::platform::posix {

class CopyLock {
public:
    enum class Result {
        Taken,          ///< this process holds the lock now
        HeldElsewhere,  ///< another copy on the same list holds it
        Unavailable,    ///< no lock can be had here: the program runs without the guarantee rather than not at all
    };

    /// Names the lock and the socket for the list identified by `identity` (the executable's folder, beside which
    /// or in whose per-user stand-in the list lives). Takes nothing yet.
    explicit CopyLock(const std::string& identity);
    ~CopyLock();
    CopyLock(const CopyLock&) = delete;
    CopyLock& operator=(const CopyLock&) = delete;

    /// Tries to take the lock without waiting. The descriptor is closed on exec, so that no program started later
    /// keeps the list claimed once this copy has ended.
    Result tryTake();
    /// Where the copy that holds the lock listens for later starts.
    const std::string& socketPath() const { return socketPath_; }

private:
    std::string lockPath_;
    std::string socketPath_;
    int fd_ = -1;
};

/// The first copy's side of the socket at `path`: listening, non-blocking and closed on exec. Whatever lies at `path`
/// is a dead copy's (only the copy holding the lock may listen) and is replaced. -1 when it cannot be made.
int ListenForLaterStarts(const std::string& path);

/// Serves one connection accepted on that socket, as far as it can without waiting: reads the request and, when it
/// is "show", runs `show` and answers "shown". True when the connection is done with (answered, refused, closed by
/// the other side or failed) and may be closed; false while the request is still on its way. `received` keeps what
/// came so far between calls.
bool ServeLaterStart(int connection, std::string& received, const std::function<void()>& show);

/// A later start's side: asks the copy listening on `path` to show its window and waits, at most `timeoutMs`
/// milliseconds, until it has. False when no copy listens there or none answers in time.
bool AskToShow(const std::string& path, int timeoutMs);

/// The user's private folder for the lock and the socket: $XDG_RUNTIME_DIR when it is set, else "selvatro-<uid>"
/// in /tmp, made on first use with mode 0700 and refused when it is a link, another user's, or open to others.
/// Empty when neither can be had.
std::string RuntimeFolder();

}  // namespace selvatro::platform::posix
