#include "platform/posix/desktop_entry.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

double PosixPrograms::start(const std::string& path) {
    // No arguments and no shell: the path as typed is the program, blanks and all. Its own scope is asked for once
    // it runs, so that nothing the bus does can delay it.
    const LaunchCommand command = CommandFor(path);  // unless a desktop entry names its program, arguments, folder
    const pid_t program = SpawnDetached(command.program, command.arguments, command.folder);
    RequestOwnScope(program, command.program);
    return static_cast<double>(program);
}

void PosixPrograms::prepare(const std::string& path) {
    (void)path;
}

std::optional<std::string> PosixPrograms::shortcutTarget(const std::string& path) {
    return EntryProgram(path);
}

std::string PosixPrograms::shortcutPattern() const {
    return "*.desktop";
}

}  // namespace selvatro::platform::posix
