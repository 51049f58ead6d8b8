#include "platform/file_rules.h"

#include <algorithm>
#include <cstdint>

namespace selvatro::platform {

ListPlace SettleListPlace(Files& files, const std::string& programFolder, const std::string& userFolder,
                          std::string_view fileName, const std::vector<std::string>& machineFolders) {
    const std::string beside = programFolder + files.separator() + std::string(fileName);
    if (userFolder.empty() || files.folderWritable(programFolder)) {
        return {beside, beside, {}};
    }
    // An installed program's folder is not the user's: the user's own copy is the list once it exists. Until the
    // first save, the machine's list for every user stands for it where the system keeps such lists apart from
    // the program (on Windows, a per-machine install's list beside the program serves instead).
    const std::string own = userFolder + files.separator() + std::string(fileName);
    if (files.exists(own)) {
        return {own, own, userFolder};
    }
    for (const std::string& folder : machineFolders) {
        std::string shared = folder;
        shared.append(1, files.separator()).append(fileName);
        // Only an ordinary file is a list: anything else under that name leaves the next folder's list its turn.
        if (files.ordinaryFileExists(shared)) {
            return {shared, own, userFolder};
        }
    }
    return {machineFolders.empty() ? beside : own, own, userFolder};
}

std::string ListIdentity(std::string_view finalFolder, std::string_view separators) {
    const auto isSeparator = [&](char c) { return separators.find(c) != std::string_view::npos; };
    const auto isRoot = [&](std::string_view folder) {
        return folder.size() == 1 || (folder.size() == 3 && folder[1] == ':');
    };
    while (!finalFolder.empty() && isSeparator(finalFolder.back()) && !isRoot(finalFolder)) {
        finalFolder.remove_suffix(1);
    }
    // FNV-1a: small, and the same on every desktop and in every build.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : finalFolder) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    std::string hex(16, '0');
    for (auto digit = hex.rbegin(); digit != hex.rend(); ++digit, hash >>= 4) {
        *digit = "0123456789abcdef"[hash & 0xFU];
    }
    return hex;
}

std::string TemporaryPrefix(std::string_view fileName) {
    std::string prefix;
    prefix.reserve(fileName.size() + 2);
    prefix.append(1, '.').append(fileName).append(1, '.');
    return prefix;
}

bool IsTemporaryName(std::string_view entryName, std::string_view fileName, const TemporaryShape& shape) {
    const std::string prefix = TemporaryPrefix(fileName);
    if (entryName.size() != prefix.size() + shape.randomLength + shape.suffix.size() ||
        !entryName.starts_with(prefix) || !entryName.ends_with(shape.suffix)) {
        return false;
    }
    const std::string_view random = entryName.substr(prefix.size(), shape.randomLength);
    return std::all_of(random.begin(), random.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

bool IsStaleTemporary(std::chrono::microseconds age) {
    return age > kStaleTemporaryAge;
}

}  // namespace selvatro::platform
