#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <memory>

#include "platform/errors.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_text.h"

// Task Manager's Startup tab (and Settings' Startup apps) switch an entry without touching it: a 12-byte binary
// value named after it under Explorer\StartupApproved, StartupFolder for a shortcut of the Startup folder (named
// after the file), Run for a Run value (named after the value). Its first byte is even while the entry is on (2,
// or 6 for some entries, the rest zeros) and odd once the user switched it off (3 or 7, three zero bytes, then the
// FILETIME of the switch); no value at all is an entry never switched. The format is not documented: these are the
// values that Windows 8 to 11 write, and the first byte's low bit is what every reader of them goes by.

namespace selvatro::platform::win32 {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedFolderKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";
constexpr wchar_t kApprovedRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kMarksKey[] = L"Software\\Selvatro\\Taken over";
constexpr std::wstring_view kFolderPrefix = L"StartupFolder\\";
constexpr std::wstring_view kRunPrefix = L"Run\\";
constexpr std::wstring_view kLinkSuffix = L".lnk";
constexpr std::size_t kSwitchSize = 12;

using Bytes = std::vector<BYTE>;

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool EndsWithText(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && SameText(text.substr(text.size() - end.size()), end);
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

// ---- the registry ----

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

std::string Where(const wchar_t* key, const std::wstring& value) {
    return Narrow(std::wstring(key).append(L"\\").append(value));
}

[[noreturn]] void Fail(const wchar_t* key, const std::wstring& value, LSTATUS status) {
    throw FileError(Where(key, value).append(": ").append(SystemMessage(static_cast<DWORD>(status))));
}

UniqueKey OpenKey(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return UniqueKey(key);
}

UniqueKey CreateKey(HKEY root, const wchar_t* path, const std::wstring& value) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Fail(path, value, status);
    }
    return UniqueKey(key);
}

// The bytes of a value whatever its type; nothing when there is no such value.
std::optional<Bytes> ReadValue(HKEY root, const wchar_t* path, const std::wstring& name) {
    for (DWORD size = 64;;) {
        Bytes bytes(size);
        const LSTATUS status =
            RegGetValueW(root, path, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, nullptr, bytes.data(), &size);
        if (status == ERROR_SUCCESS) {
            bytes.resize(size);
            return bytes;
        }
        if (status != ERROR_MORE_DATA) {
            return std::nullopt;
        }
    }
}

void WriteValue(HKEY root, const wchar_t* path, const std::wstring& name, const Bytes& bytes) {
    const UniqueKey key = CreateKey(root, path, name);
    const LSTATUS status =
        RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS) {
        Fail(path, name, status);
    }
}

// Deletes the value; one already gone is no error.
void DeleteValue(HKEY root, const wchar_t* path, const std::wstring& name) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (status == ERROR_SUCCESS) {
        const UniqueKey owned(key);
        status = RegDeleteValueW(key, name.c_str());
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        Fail(path, name, status);
    }
}

std::vector<std::wstring> ValueNames(HKEY root, const wchar_t* path) {
    std::vector<std::wstring> names;
    const UniqueKey key = OpenKey(root, path);
    DWORD longest = 0;
    if (!key || RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                                 nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::wstring name(longest + 1, L'\0');
    for (DWORD index = 0;; ++index) {
        auto length = static_cast<DWORD>(name.size());
        const LSTATUS status =
            RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS) {
            names.emplace_back(name.data(), length);
        }
    }
    return names;
}

// The command of a Run value, the environment variables of a REG_EXPAND_SZ one expanded (which RRF_RT_REG_SZ asks
// for); nothing for a value that is no text.
std::optional<std::wstring> RunCommand(HKEY root, const std::wstring& name) {
    for (DWORD size = 512;;) {
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        const LSTATUS status = RegGetValueW(root, kRunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size);
        if (status == ERROR_SUCCESS) {
            text.resize(wcsnlen(text.c_str(), size / sizeof(wchar_t)));
            return text;
        }
        if (status != ERROR_MORE_DATA) {
            return std::nullopt;
        }
    }
}

bool IsOff(const std::optional<Bytes>& value) {
    return value && !value->empty() && ((*value)[0] & 1U) != 0;
}

// ---- shortcuts ----

struct Command {
    std::wstring program;
    std::wstring arguments;
};

// The program that `candidate` names as the system looks for one: the file itself, with ".exe" after a name that
// has no extension, a bare name in the program's, the current, the system's and the PATH's folders.
std::optional<std::wstring> FindProgram(const std::wstring& candidate) {
    if (candidate.empty()) {
        return std::nullopt;
    }
    std::array<wchar_t, MAX_PATH + 1> found{};
    const DWORD length =
        SearchPathW(nullptr, candidate.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0 || length >= found.size()) {
        return std::nullopt;
    }
    const DWORD attributes = GetFileAttributesW(found.data());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return std::wstring(found.data(), length);
}

std::wstring TrimmedStart(std::wstring_view text) {
    const std::size_t start = text.find_first_not_of(L" \t");
    return start == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(start));
}

// A Run value's command line split as the system runs it: a quoted program up to its closing quote; an unquoted
// one is the shortest run of words, from the start, that names a program ("C:\Program Files\A\a.exe -x" is
// C:\Program.exe when that exists), or the first word when none does.
Command SplitCommand(const std::wstring& line) {
    const std::wstring text = TrimmedStart(line);
    if (!text.empty() && text.front() == L'"') {
        const std::size_t close = text.find(L'"', 1);
        const std::wstring quoted = text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        const std::wstring rest = close == std::wstring::npos ? std::wstring() : TrimmedStart(text.substr(close + 1));
        return {FindProgram(quoted).value_or(quoted), rest};
    }
    for (std::size_t end = text.find(L' '); end != std::wstring::npos; end = text.find(L' ', end + 1)) {
        if (const std::optional<std::wstring> program = FindProgram(text.substr(0, end))) {
            return {*program, TrimmedStart(text.substr(end + 1))};
        }
    }
    if (const std::optional<std::wstring> program = FindProgram(text)) {
        return {*program, L""};
    }
    const std::size_t blank = text.find(L' ');
    return {text.substr(0, blank), blank == std::wstring::npos ? L"" : TrimmedStart(text.substr(blank + 1))};
}

// Selvatro itself, under its own name or as the running copy (which the user may have renamed): a logon entry that
// starts it is its own logon start, never one to take over.
bool IsSelvatro(const std::wstring& program) {
    static const std::wstring self = ModulePath();
    return SameText(FileNameOf(program), L"selvatro.exe") || (!self.empty() && SameText(program, self));
}

void WriteShortcut(const std::wstring& file, const Command& command) {
    const ComScope com;
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link->SetPath(command.program.c_str())) || FAILED(link->SetArguments(command.arguments.c_str())) ||
        FAILED(link->SetShowCmd(SW_SHOWNORMAL)) || FAILED(link.As(&persist))) {
        return;
    }
    persist->Save(file.c_str(), TRUE);
}

// The shortcut's file name for a Run value: the value's name, with what a file name cannot hold made "_".
std::wstring ShortcutNameOf(const std::wstring& value) {
    std::wstring name = value;
    for (wchar_t& c : name) {
        if (c < L' ' || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) {
            c = L'_';
        }
    }
    if (!name.empty() && (name.back() == L'.' || name.back() == L' ')) {
        name.back() = L'_';
    }
    return name.append(kLinkSuffix);
}

// A Run value that the picker can offer: its name, its shortcut's file name, its command split.
struct RunEntry {
    std::wstring value;
    std::wstring shortcut;
    Command command;
};

// The Run values that are entries, in the registry's order; of two whose shortcut names would be the same, the
// first.
std::vector<RunEntry> RunEntries(HKEY user) {
    std::vector<RunEntry> entries;
    for (const std::wstring& value : ValueNames(user, kRunKey)) {
        const std::optional<std::wstring> line = value.empty() ? std::nullopt : RunCommand(user, value);
        if (!line) {
            continue;
        }
        RunEntry entry{value, ShortcutNameOf(value), SplitCommand(*line)};
        const bool taken = std::any_of(entries.begin(), entries.end(),
                                       [&entry](const RunEntry& e) { return SameText(e.shortcut, entry.shortcut); });
        if (!taken && !IsSelvatro(entry.command.program)) {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

// ---- folders ----

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder's own name, whatever way `folder` reaches it (its short name, a junction, another letter's case).
std::wstring FinalName(const std::wstring& folder) {
    const UniqueHandle handle =
        Own(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring final(32768, L'\0');
    const DWORD length = handle ? GetFinalPathNameByHandleW(handle.get(), final.data(),
                                                            static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED)
                                : 0;
    if (length == 0 || length >= final.size()) {
        return folder;
    }
    final.resize(length);
    while (!final.empty() && final.back() == L'\\') {
        final.pop_back();
    }
    return final;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && SameText(FinalName(a), FinalName(b));
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size > 0 ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0;
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return full;
}

// The name that the file has on disk; nothing for a folder or nothing at all.
std::optional<std::wstring> NameOnDisk(const std::wstring& file) {
    if (file.find_first_of(L"*?") != std::wstring::npos) {
        return std::nullopt;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(file.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FindClose(search);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return std::wstring(found.cFileName);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(path, &CoTaskMemFree);
    return SUCCEEDED(result) && path != nullptr ? std::wstring(path) : std::wstring();
}

// Where an entry's switch lives: the StartupApproved key and value, and whether the entry itself is still there.
struct Switch {
    const wchar_t* key = nullptr;
    std::wstring value;
    std::wstring name;  // as the user knows the entry
};

std::optional<Switch> SwitchOf(const std::wstring& id) {
    if (id.size() > kFolderPrefix.size() && SameText(id.substr(0, kFolderPrefix.size()), kFolderPrefix)) {
        const std::wstring file = id.substr(kFolderPrefix.size());
        if (!EndsWithText(file, kLinkSuffix)) {
            return std::nullopt;
        }
        return Switch{kApprovedFolderKey, file, file.substr(0, file.size() - kLinkSuffix.size())};
    }
    if (id.size() > kRunPrefix.size() && SameText(id.substr(0, kRunPrefix.size()), kRunPrefix)) {
        const std::wstring value = id.substr(kRunPrefix.size());
        return Switch{kApprovedRunKey, value, value};
    }
    return std::nullopt;
}

}  // namespace

Win32LogonEntries::Win32LogonEntries() : user_(HKEY_CURRENT_USER) {}

Win32LogonEntries::Win32LogonEntries(HKEY user, std::string startupFolder, std::string entriesFolder)
    : user_(user), startup_(Widen(startupFolder)), entries_(Widen(entriesFolder)) {}

std::wstring Win32LogonEntries::startupFolder() {
    if (!startup_) {
        startup_ = KnownFolder(FOLDERID_Startup);
    }
    return *startup_;
}

std::wstring Win32LogonEntries::entriesFolder() {
    if (!entries_) {
        const std::string own = PerUserFolder();
        entries_ = own.empty() ? std::wstring() : Widen(own).append(L"\\Logon entries");
    }
    return *entries_;
}

std::vector<std::string> Win32LogonEntries::places() {
    std::vector<std::string> places;
    try {
        const std::wstring startup = startupFolder();
        if (IsFolder(startup)) {
            places.push_back(Narrow(startup));
        }
        const std::wstring folder = entriesFolder();
        if (folder.empty()) {
            return places;
        }
        // The folder is Selvatro's own: each shortcut in it stands for a Run value as it is now, and one whose
        // value is gone goes too.
        const std::vector<RunEntry> entries = RunEntries(user_);
        if (!entries.empty()) {
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        }
        bool offered = false;
        for (const RunEntry& entry : entries) {
            const std::wstring file = folder + L"\\" + entry.shortcut;
            const std::optional<ShellLinkContents> written = ReadShellLink(file);
            if (!written || written->target != entry.command.program || written->arguments != entry.command.arguments) {
                WriteShortcut(file, entry.command);
            }
            offered = offered || NameOnDisk(file).has_value();
        }
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((folder + L"\\*.lnk").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                const bool current = std::any_of(entries.begin(), entries.end(),
                                                 [&name](const RunEntry& e) { return SameText(e.shortcut, name); });
                if (!current && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                    EndsWithText(name, kLinkSuffix)) {
                    DeleteFileW((folder + L"\\" + name).c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (offered) {
            places.push_back(Narrow(folder));
        }
    } catch (...) {
        // Places are an offer: the dialog opens without those it could not make.
    }
    return places;
}

std::optional<LogonEntry> Win32LogonEntries::entryOf(const std::string& file) {
    try {
        const std::wstring full = FullPath(Widen(file));
        const std::size_t at = full.find_last_of(L'\\');
        if (!EndsWithText(full, kLinkSuffix) || at == std::wstring::npos) {
            return std::nullopt;
        }
        const std::optional<std::wstring> name = NameOnDisk(full);
        if (!name) {
            return std::nullopt;
        }
        const std::wstring folder = full.substr(0, at);
        if (SameFolder(folder, startupFolder())) {
            // Selvatro's own logon shortcut, whatever program it starts, and any other that starts Selvatro.
            const std::optional<ShellLinkContents> link = ReadShellLink(full);
            if (SameText(*name, L"Selvatro.lnk") || (link && IsSelvatro(link->target))) {
                return std::nullopt;
            }
            return entryById(std::wstring(kFolderPrefix).append(*name));
        }
        if (SameFolder(folder, entriesFolder())) {
            for (const RunEntry& entry : RunEntries(user_)) {
                if (SameText(entry.shortcut, *name)) {
                    return entryById(std::wstring(kRunPrefix).append(entry.value));
                }
            }
        }
    } catch (...) {
        // Not an entry that can be told: the row keeps its file, and nothing is offered.
    }
    return std::nullopt;
}

// The entry with that id as it stands now; nothing when it is gone.
std::optional<LogonEntry> Win32LogonEntries::entryById(const std::wstring& id) {
    const std::optional<Switch> place = SwitchOf(id);
    if (!place) {
        return std::nullopt;
    }
    if (place->key == kApprovedFolderKey) {
        if (!NameOnDisk(startupFolder() + L"\\" + place->value)) {
            return std::nullopt;
        }
    } else if (!RunCommand(user_, place->value)) {
        return std::nullopt;
    }
    LogonEntry entry{Narrow(id), Narrow(place->name), LogonEntry::State::On};
    const std::optional<Bytes> now = ReadValue(user_, place->key, place->value);
    if (IsOff(now)) {
        const std::optional<Bytes> mark = ReadValue(user_, kMarksKey, id);
        const bool ours = mark && mark->size() >= kSwitchSize && now->size() == kSwitchSize &&
                          std::equal(now->begin(), now->end(), mark->begin());
        entry.state = ours ? LogonEntry::State::OffBySelvatro : LogonEntry::State::Off;
    }
    return entry;
}

void Win32LogonEntries::takeOver(const LogonEntry& entry) {
    const std::wstring id = Widen(entry.id);
    const std::optional<Switch> place = SwitchOf(id);
    const std::optional<LogonEntry> now = entryById(id);
    if (!place || !now) {
        throw FileError(entry.name + ": " + SystemMessage(ERROR_FILE_NOT_FOUND));
    }
    if (now->state != LogonEntry::State::On) {
        return;  // switched off meanwhile, by someone else: not Selvatro's to mark
    }
    const std::optional<Bytes> before = ReadValue(user_, place->key, place->value);
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    // Off as Task Manager writes it: the first byte made odd, the time of the switch after three zero bytes.
    Bytes off(kSwitchSize, 0);
    off[0] = before && !before->empty() ? static_cast<BYTE>((*before)[0] | 1U) : BYTE{3};
    for (std::size_t i = 0; i < 4; ++i) {
        off[4 + i] = static_cast<BYTE>(time.dwLowDateTime >> (8 * i));
        off[8 + i] = static_cast<BYTE>(time.dwHighDateTime >> (8 * i));
    }
    // The mark holds the bytes written, then those that they replace (none: there was no value). It is written
    // first: a switch without its mark would be the user's for ever, a mark without its switch is nobody's.
    Bytes mark = off;
    if (before) {
        mark.insert(mark.end(), before->begin(), before->end());
    }
    WriteValue(user_, kMarksKey, id, mark);
    try {
        WriteValue(user_, place->key, place->value, off);
    } catch (const FileError&) {
        try {
            DeleteValue(user_, kMarksKey, id);
        } catch (const FileError&) {
            // The mark matches nothing that was written: it marks nothing.
        }
        throw;
    }
}

std::vector<LogonEntry> Win32LogonEntries::takenOver() {
    std::vector<LogonEntry> taken;
    for (const std::wstring& id : ValueNames(user_, kMarksKey)) {
        const std::optional<LogonEntry> entry = entryById(id);
        if (entry && entry->state == LogonEntry::State::OffBySelvatro) {
            taken.push_back(*entry);
        } else if (entry) {
            // Switched by the user since: the mark can never match again. One of an entry that is gone stays, for
            // the entry that an installer may put back with its switch as Selvatro left it.
            try {
                DeleteValue(user_, kMarksKey, id);
            } catch (const FileError&) {
                // A mark that tells nothing is no harm where it stays.
            }
        }
    }
    std::sort(taken.begin(), taken.end(), [](const LogonEntry& a, const LogonEntry& b) { return a.id < b.id; });
    return taken;
}

void Win32LogonEntries::giveBack(const LogonEntry& entry) {
    const std::wstring id = Widen(entry.id);
    const std::optional<Switch> place = SwitchOf(id);
    const std::optional<Bytes> mark = ReadValue(user_, kMarksKey, id);
    if (!place || !mark) {
        return;  // never taken over
    }
    const std::optional<LogonEntry> now = entryById(id);
    if (now && now->state == LogonEntry::State::OffBySelvatro) {
        // Back to what it was: the value it had, or none, which is how Windows leaves an entry never switched.
        const Bytes before(mark->begin() + static_cast<std::ptrdiff_t>(std::min(mark->size(), kSwitchSize)),
                           mark->end());
        if (mark->size() > kSwitchSize) {
            WriteValue(user_, place->key, place->value, before);
        } else {
            DeleteValue(user_, place->key, place->value);
        }
    }
    // Given back, switched on again by the user, or removed: the mark has nothing left to tell.
    DeleteValue(user_, kMarksKey, id);
}

}  // namespace selvatro::platform::win32
