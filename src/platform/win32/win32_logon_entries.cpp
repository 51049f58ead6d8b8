#include "platform/errors.h"
#include "platform/win32/win32_services.h"

namespace selvatro::platform::win32 {

// Not yet taken over on this desktop: nothing is offered, so nothing is ever switched.

std::vector<std::string> Win32LogonEntries::places() {
    return {};
}

std::optional<LogonEntry> Win32LogonEntries::entryOf(const std::string& /*file*/) {
    return std::nullopt;
}

void Win32LogonEntries::takeOver(const LogonEntry& entry) {
    throw FileError(entry.name + ": not supported");
}

std::vector<LogonEntry> Win32LogonEntries::takenOver() {
    return {};
}

void Win32LogonEntries::giveBack(const LogonEntry& /*entry*/) {}

}  // namespace selvatro::platform::win32
