#pragma once

// Helpers for testing the POSIX services on the real system: a temporary folder that cleans up after itself,
// small file helpers, a recorder program, and a way to run a piece of code in a child process (with its own
// environment, or as an unprivileged user).

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace selvatro::test {

/// A fresh folder under the temporary folder, readable by every user, removed with all it holds.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    const std::string& path() const { return path_; }
    /// `path()/relative`, with the folders on the way created.
    std::string make(const std::string& relative) const;

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
std::optional<std::string> ReadFile(const std::string& path);
/// The names in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
mode_t ModeOf(const std::string& path);

/// Waits until `path` exists, for at most `timeout`.
bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(10));

/// Installs the tests' recorder (tests/lib/recorder.cpp) as `path`: started with $SELVATRO_RECORD set, it writes
/// there what it inherited from its launcher, which ReadRecord reads.
void WriteRecorder(const std::string& path);

struct Record {
    std::string name;
    std::string folder;  ///< its current folder
    pid_t pid = 0;
    pid_t session = 0;
    std::string input;
    std::string output;
    std::string blockedSignals;
    std::string ignoredSignals;
    std::string probe;  ///< "open" when the descriptor numbered $SELVATRO_PROBE_FD was inherited, else "closed"
    std::vector<std::string> arguments;
};
/// Reads a recorder's file, waiting for it to appear; nothing when it never does.
std::optional<Record> ReadRecord(const std::string& path);

/// Runs `body` in a forked child and returns what it returned (or "exception: ..." when it threw). The child
/// ends with _exit, so nothing of the test process (GIO's caches, the environment) is touched by what it does.
/// With `unprivileged`, a child of root first becomes the user "nobody" (65534), so that permissions bite.
std::string InChild(const std::function<std::string()>& body, bool unprivileged = false);

/// Runs a shell command and returns its exit status (or -1) and everything it wrote to stdout and stderr.
struct Outcome {
    int status = -1;
    std::string output;
};
Outcome RunCommand(const std::string& command);

/// The environment variables of a private XDG sandbox under `root`: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, and
/// empty XDG_DATA_DIRS and XDG_CONFIG_DIRS folders, so that the machine's own settings never interfere.
std::map<std::string, std::string> XdgSandbox(const Sandbox& root);
/// Sets the variables (in a child, before GIO first reads them) and drops the session bus and display.
void ApplyEnvironment(const std::map<std::string, std::string>& variables);

}  // namespace selvatro::test
