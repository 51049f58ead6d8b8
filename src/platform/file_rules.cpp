#include "platform/file_rules.h"

#include <cstdint>

namespace selvatro::platform {

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

}  // namespace selvatro::platform
