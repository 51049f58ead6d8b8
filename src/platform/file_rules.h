#pragma once

// The file rules that every desktop shares: the name under which one running copy claims the list. Each desktop
// asks its own system the facts (the folder's final name); the decisions are taken here, once.

#include <string>
#include <string_view>

namespace selvatro::platform {

/// The name under which one running copy claims the list kept for the program folder `finalFolder`, given as the
/// system resolves it (links followed; on Windows also in the one letter case in which the file system compares):
/// 16 hexadecimal digits, so that a folder of any length fits a socket's or a mutex's short name, and the same
/// folder gives the same name in every build. Separators (any of `separators`) that end the folder are dropped,
/// save a root's own ("/", "C:\").
std::string ListIdentity(std::string_view finalFolder, std::string_view separators);

}  // namespace selvatro::platform
