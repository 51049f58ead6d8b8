#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/deadline.h"
#include "platform/posix/desktop_entry.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

namespace {

// A program made at the announcement of its start waits this long for it: the start is due a second later, or
// later still behind a late tick; past this it ends unreleased and its start begins afresh.
constexpr int kHoldMs = 5000;

struct Prepared {
    HeldProgram held;
    long long madeAt = 0;  // MonotonicMs
};
using PreparedPrograms = std::map<std::string, Prepared>;

PreparedPrograms& PreparedOf(std::shared_ptr<void>& prepared) {
    if (!prepared) {
        prepared = std::shared_ptr<PreparedPrograms>(new PreparedPrograms, [](PreparedPrograms* programs) {
            for (auto& [path, program] : *programs) {
                DropHeld(program.held);
            }
            delete programs;
        });
    }
    return *static_cast<PreparedPrograms*>(prepared.get());
}

// Lets go of the held programs whose time is up (they have ended by themselves), and of the one for `path`.
void DropStale(PreparedPrograms& programs, const std::string& path) {
    const long long now = MonotonicMs();
    for (auto it = programs.begin(); it != programs.end();) {
        if (it->first == path || now - it->second.madeAt > kHoldMs) {
            DropHeld(it->second.held);
            it = programs.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

PosixPrograms::PosixPrograms(std::string holder) : holder_(std::move(holder)) {}

std::string FindHolder(const std::string& executableFolder) {
    for (const char* place : {"", SELVATRO_HOLDER_FROM_BINDIR "/"}) {
        std::string holder = executableFolder + "/" + place + "selvatro-hold";
        if (access(holder.c_str(), X_OK) == 0) {
            return holder;
        }
    }
    return {};
}

double PosixPrograms::start(const std::string& path) {
    // A path is the program as typed, with no arguments and no shell, blanks and all; a desktop entry names its
    // program, arguments and folder.
    const LaunchCommand command = CommandFor(path);
    PreparedPrograms& programs = PreparedOf(prepared_);
    const auto it = programs.find(path);
    if (it != programs.end()) {
        HeldProgram held = it->second.held;
        programs.erase(it);
        // Already in its own scope, or on its way there: it only has to exec.
        const pid_t program = ReleaseHeld(held, command.program, command.folder);
        if (program > 0) {
            return static_cast<double>(program);
        }
    }
    // Unannounced, or gone before its instant: started now, and its own scope asked for once it runs, so that
    // nothing the bus does can delay it.
    const pid_t program = SpawnDetached(command.program, command.arguments, command.folder);
    RequestOwnScope(program, command.program);
    return static_cast<double>(program);
}

void PosixPrograms::prepare(const std::string& path) {
    // Made ahead only where a manager may take it into a scope before it runs a single instruction of its own, so
    // that a program that starts a child and ends at once (a launcher script, a tray program) leaves nothing in
    // Selvatro's own unit. Without a bus there is nothing to gain, and the start stays as it always was.
    try {
        PreparedPrograms& programs = PreparedOf(prepared_);
        DropStale(programs, path);
        if (holder_.empty() || !ScopesPossible()) {
            return;
        }
        const LaunchCommand command = CommandFor(path);
        std::optional<HeldProgram> held =
            SpawnHeld(holder_, command.program, command.arguments, command.folder, kHoldMs);
        if (!held) {
            return;
        }
        RequestOwnScope(held->pid, command.program);
        programs[path] = {*held, MonotonicMs()};
    } catch (const std::exception&) {
        // A hint only: the start itself will say what is wrong.
    }
}

std::optional<std::string> PosixPrograms::shortcutTarget(const std::string& path) {
    return EntryProgram(path);
}

std::string PosixPrograms::shortcutPattern() const {
    return "*.desktop";
}

}  // namespace selvatro::platform::posix
