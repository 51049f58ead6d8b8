#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

double PosixPrograms::start(const std::string& path) {
    // No arguments and no shell: the path as typed is the program, blanks and all. Its own scope is asked for once
    // it runs, so that nothing the bus does can delay it.
    const pid_t program = SpawnDetached(path, {});
    RequestOwnScope(program, path);
    return static_cast<double>(program);
}

void PosixPrograms::prepare(const std::string& path) {
    (void)path;
}

std::optional<std::string> PosixPrograms::shortcutTarget(const std::string& path) {
    (void)path;
    return std::nullopt;
}

std::string PosixPrograms::shortcutPattern() const {
    return "*.desktop";
}

}  // namespace selvatro::platform::posix
