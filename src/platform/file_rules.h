#pragma once

// The file rules that every desktop shares: where the list lives, the name under which one running copy claims
// it, and which leftovers of killed saves a later save may take away. Each desktop asks its own system the facts
// (can this folder be written, does that file exist, how old is this entry); the decisions are taken here, once.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace selvatro::platform {

/// Where the list is read at start and written at the end, settled once when the program starts.
struct ListPlace {
    std::string read;   ///< the file the list is loaded from
    std::string write;  ///< the file that every save replaces, and that a failed save's message names
    /// The user's own folder, to be made before a save, when the list is kept there; empty when it lives beside
    /// the program.
    std::string userFolder;

    friend bool operator==(const ListPlace&, const ListPlace&) = default;
};

/// The list named `fileName` for a program in `programFolder`: beside the program when a file can be made in its
/// folder (a copy in a folder of the user's own); else in `userFolder`, which is written from then on and read
/// when it holds a list. Until it does, the list read is the first one found in `machineFolders` (the machine's
/// lists for every user, in the order of preference) or, where the system names no such folder, the one beside
/// the program; with machine folders and a list in none of them, the user's own place is read (no list yet).
/// Where the system names no `userFolder`, the list stays beside the program. A full name is the folder, the
/// files' separator and the name: a root folder ("/", "C:\") gives two separators in a row, which every file
/// system accepts. Asks `files` whether the program's folder can be written at most once.
ListPlace SettleListPlace(Files& files, const std::string& programFolder, const std::string& userFolder,
                          std::string_view fileName, const std::vector<std::string>& machineFolders = {});

/// The name under which one running copy claims the list kept for the program folder `finalFolder`, given as the
/// system resolves it (links followed; on Windows also in the one letter case in which the file system compares):
/// 16 hexadecimal digits, so that a folder of any length fits a socket's or a mutex's short name, and the same
/// folder gives the same name in every build. Separators (any of `separators`) that end the folder are dropped,
/// save a root's own ("/", "C:\").
std::string ListIdentity(std::string_view finalFolder, std::string_view separators);

/// How a save names the temporary it writes beside the file it replaces: a dot, the file's name, a dot, then
/// `randomLength` letters or digits picked by the system's unique-name call, then `suffix`. The leading dot keeps
/// an existence test from ever taking it for an ordinary file.
struct TemporaryShape {
    std::size_t randomLength;
    std::string_view suffix;
};

/// The fixed start of the temporaries of `fileName`.
std::string TemporaryPrefix(std::string_view fileName);

/// How long no save can still be writing its temporary: a save takes milliseconds, so one this old was left by a
/// save that was killed between its first write and its rename.
inline constexpr std::chrono::minutes kStaleTemporaryAge{10};

/// Whether the folder entry `entryName` is named as a temporary of `fileName` shaped as `shape` says.
bool IsTemporaryName(std::string_view entryName, std::string_view fileName, const TemporaryShape& shape);

/// Whether a temporary, an ordinary file of the user's last written `age` ago, was left by a killed save: a save
/// may delete it. One younger than kStaleTemporaryAge (or dated in the future) may still be being written.
bool IsStaleTemporary(std::chrono::microseconds age);

}  // namespace selvatro::platform
