#pragma once

// Helpers shared by the POSIX services; not part of what the Qt layer sees.

#include <sys/types.h>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace selvatro::platform::posix {

/// The system's text for an errno value ("No such file or directory").
std::string ErrnoText(int error);

/// The folder part of `path` ("." when there is none, "/" for a name in the root) and the name after it.
struct PathParts {
    std::string folder;
    std::string name;
};
PathParts SplitPath(const std::string& path);

/// Creates `folder` and any missing parents with `mode`. Throws FileError.
void MakeFolders(const std::string& folder, mode_t mode);

/// The bytes of `path` when it is a regular file (after symbolic links), at most `limit` of them; what could be
/// read when reading stopped early; nothing when it cannot be opened or is a device, a FIFO, a socket or a folder.
/// Never blocks and never opens anything but a regular file. `error`, when given, receives the errno of a regular
/// file that could not be opened or read to its end, and 0 otherwise.
std::optional<std::string> ReadRegularFile(const std::string& path,
                                           std::size_t limit = std::numeric_limits<std::size_t>::max(),
                                           int* error = nullptr);

/// Replaces `path` whole with `text`: a temporary file in the same folder is written, flushed to disk and renamed
/// over the old one, so that a failure at any point leaves the old file as it was. A symbolic link is followed, so
/// that the file it points at is replaced and the link stays. The new file gets the old one's mode, or
/// `newFileMode`. A file that already holds exactly `text` is left untouched. Anything but a regular file or a
/// free name (a device, a FIFO, a socket, a folder, a link to one of those or to nothing) is left as it is.
/// Throws FileError with the system's reason, or says what the name holds instead of a file.
void ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t newFileMode);

/// Starts `program` with `arguments` after its own name, without a shell: in a session of its own, standard input,
/// output and error on /dev/null, signal dispositions and mask back to their defaults, no descriptor of ours
/// inherited. An intermediate child that ends at once makes the program a child of init, so no zombie is left
/// behind and nothing needs to reap it. Returns the program's process id once its exec has succeeded.
/// `folder`, when not empty, is the program's current folder; when it cannot be entered the program is not started.
/// Throws StartFailed with the system's reason when the exec fails (missing, no permission, not a program).
pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& folder = {});

/// A program's process made ahead of its instant by SpawnHeld: the process exists, in a session of its own, but
/// has not yet run anything of the program; the two descriptors are ours.
struct HeldProgram {
    pid_t pid = -1;
    int release = -1;  ///< our end of its release channel
    int report = -1;   ///< the reading end of its report pipe
};

/// Makes the process that SpawnDetached would make for `program`, with its id, and holds it before its exec until
/// ReleaseHeld: the process runs `holder` (selvatro-hold, held_start.h) until then. A held process that is never
/// released ends by itself without exec once `holdMs` have passed or once its release channel is closed (DropHeld,
/// or the end of Selvatro). Nothing when it could not be made (no holder, say); the program's own faults (missing,
/// not a program, its folder) come only at its release.
std::optional<HeldProgram> SpawnHeld(const std::string& holder, const std::string& program,
                                     const std::vector<std::string>& arguments, const std::string& folder, int holdMs);

/// Lets a held program exec at once, with the same `program` and `folder` that it was made with, and returns its
/// process id once its exec has succeeded. Returns -1 when it had already ended unreleased (its time was up): the
/// caller then starts it anew. Throws StartFailed as SpawnDetached does when the exec fails. The descriptors are
/// closed either way.
pid_t ReleaseHeld(HeldProgram& held, const std::string& program, const std::string& folder);

/// Lets a held program go without exec: it ends at once.
void DropHeld(HeldProgram& held);

/// Whether scope requests can be made at all: the session bus has an address and has not been found missing.
bool ScopesPossible();

/// Asks the user's service manager, when the session bus has one, to move the started program `pid` into a
/// transient scope of its own (ScopeUnitName), so that it no longer lives and dies with Selvatro's own unit.
/// Returns at once and never throws: the bus is reached from a thread of its own, opened at the first request, and
/// each request leaves the process within milliseconds of this call; that thread waits for the manager's answer and
/// asks again, for a few seconds, while the manager has not yet taken its name on the bus. A missing, slow or
/// refusing bus, or a program that has already ended, changes nothing.
void RequestOwnScope(pid_t pid, const std::string& program);

/// `text` escaped as systemd escapes a unit name's part (systemd-escape): "/" becomes "-", a leading "." and every
/// byte but ASCII letters, digits, ":", "_" and "." become "\xNN" in lower-case hexadecimal.
std::string EscapeUnitNamePart(std::string_view text);

/// The unit that holds the program `program` started as `pid`: "app-selvatro-<its file name, escaped>-<pid>.scope",
/// the name shortened, never inside an escape, so that the whole stays within systemd's 255 characters.
std::string ScopeUnitName(const std::string& program, pid_t pid);

}  // namespace selvatro::platform::posix
