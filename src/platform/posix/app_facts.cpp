#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

namespace {

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

PosixAppFacts::PosixAppFacts() {
    // A program replaced while it runs reads as "/usr/bin/selvatro (deleted)"; its folder is still the right one.
    std::string path = ExecutablePath();
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        path.resize(path.size() - kDeleted.size());
    }
    folder_ = path.empty() ? std::string(".") : SplitPath(path).folder;
    name_ = path.empty() ? productName() : SplitPath(path).name;
}

std::string PosixAppFacts::executableName() const {
    return name_;
}

std::string PosixAppFacts::folder() const {
    return folder_;
}

std::string PosixAppFacts::productName() const {
    return "selvatro";
}

std::string PosixAppFacts::fileDescription() const {
    return "selvatro";
}

Version PosixAppFacts::version() const {
    return {SELVATRO_VERSION_MAJOR, SELVATRO_VERSION_MINOR, SELVATRO_VERSION_PATCH};
}

std::string PosixAppFacts::ownFileName() const {
    return "selvatro";
}

std::string PosixAppFacts::rootFolder() const {
    return "/";
}

std::string PosixAppFacts::userListFolder() const {
    return ConfigHome() + "/selvatro";
}

std::vector<std::string> PosixAppFacts::machineListFolders() const {
    std::vector<std::string> folders = ConfigDirs();
    for (std::string& folder : folders) {
        folder.append("/selvatro");
    }
    return folders;
}

std::vector<std::string> ConfigDirs() {
    std::vector<std::string> folders;
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string_view rest = dirs != nullptr ? dirs : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        while (folder.size() > 1 && folder.back() == '/') {
            folder.remove_suffix(1);
        }
        // A relative folder is no folder of the machine's: the base directory rules say to ignore it.
        if (!folder.empty() && folder.front() == '/') {
            folders.emplace_back(folder == "/" ? std::string_view() : folder);
        }
    }
    if (folders.empty()) {
        folders.emplace_back("/etc/xdg");
    }
    return folders;
}

}  // namespace selvatro::platform::posix
