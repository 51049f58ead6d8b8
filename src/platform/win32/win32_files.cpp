#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <random>
#include <string_view>

#include "platform/encoding.h"
#include "platform/errors.h"
#include "platform/file_rules.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

[[noreturn]] void Fail(DWORD error) {
    throw FileError(SystemMessage(error));
}

[[noreturn]] void Fail() {
    Fail(GetLastError());
}

// The folder part of `path` and the name after its last separator (either slash).
struct PathParts {
    std::string folder;
    std::string name;
};
PathParts SplitPath(const std::string& path) {
    const std::size_t at = path.find_last_of("\\/");
    if (at == std::string::npos) {
        return {".", path};
    }
    // "C:\x" keeps its root's separator: the folder is "C:\", not the drive's current folder "C:".
    const bool root = at == 2 && path.size() > 1 && path[1] == ':';
    return {path.substr(0, root || at == 0 ? at + 1 : at), path.substr(at + 1)};
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    return full;
}

// The directory entry that `path` names literally: no wildcard, and a device such as "CON" or "\\.\COM1", which
// has no entry, names nothing. The "\\?\" that opens a long path is no wildcard.
std::optional<WIN32_FIND_DATAW> Entry(const std::wstring& path) {
    constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";
    const std::wstring_view name =
        std::wstring_view(path).substr(path.rfind(kLongPathPrefix, 0) == 0 ? kLongPathPrefix.size() : 0);
    if (name.empty() || name.find_first_of(L"*?") != std::wstring_view::npos) {
        return std::nullopt;
    }
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FindClose(search);
    return data;
}

bool IsFileEntry(const WIN32_FIND_DATAW& data) {
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Opens `path` for reading only when it is a file on a disk: never a device, a pipe or a console, whose opening
// alone may act or wait. `openError`, when given, receives the system's error for a file that is there and could
// not be opened (held without sharing, no permission); it is left as it was otherwise.
UniqueHandle OpenDiskFile(const std::wstring& path, DWORD* openError = nullptr) {
    const std::optional<WIN32_FIND_DATAW> entry = Entry(path);
    if (!entry || !IsFileEntry(*entry)) {
        return nullptr;
    }
    UniqueHandle file =
        Own(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (openError != nullptr) {
            *openError = GetLastError();
        }
        return nullptr;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return nullptr;
    }
    return file;
}

// The bytes of an open file, at most `limit` of them; what could be read when reading stopped early, with the
// system's error code in `error` (0 when the end or the limit was reached).
std::string ReadAll(HANDLE file, std::size_t limit = SIZE_MAX, DWORD* error = nullptr) {
    std::string bytes;
    std::array<char, 8192> chunk{};
    while (bytes.size() < limit) {
        const DWORD want = static_cast<DWORD>(std::min(chunk.size(), limit - bytes.size()));
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), want, &got, nullptr)) {
            if (error != nullptr) {
                *error = GetLastError();
            }
            break;
        }
        if (got == 0) {
            break;
        }
        bytes.append(chunk.data(), got);
    }
    return bytes;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD part = bytes.size() > 1u << 20 ? 1u << 20 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), part, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// The file bytes of `text`: a file found in UTF-8 stays so, with its mark or without; else the ANSI code page, or
// UTF-8 behind its mark when the code page cannot hold the text.
std::string FileBytes(const std::string& text, TextEncoding found = TextEncoding::CodePage) {
    if (found == TextEncoding::Utf8) {
        return text;
    }
    if (found != TextEncoding::Utf8WithMark) {
        if (std::optional<std::string> ansi = ToAnsi(text)) {
            return *ansi;
        }
    }
    return std::string(kUtf8Mark) + text;
}

// A name no other process picks at the same moment: random letters from the system's generator.
std::wstring RandomPart() {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const unsigned value = device() ^ (GetCurrentProcessId() << 8) ^ counter.fetch_add(1);
    std::wstring text;
    for (unsigned rest = value, i = 0; i < 8; ++i, rest >>= 4) {
        text += L"0123456789abcdef"[rest & 0xFu];
    }
    return text;
}

// Creates a new file that nobody else has opened, named `prefix` + random + `suffix`.
std::pair<UniqueHandle, std::wstring> CreateUnique(const std::wstring& prefix, const std::wstring& suffix,
                                                   DWORD attributes) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = prefix + RandomPart() + suffix;
        UniqueHandle file = Own(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        if (file) {
            return {std::move(file), std::move(name)};
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail();
        }
    }
    Fail(ERROR_FILE_EXISTS);
}

// Whether a new file can be made in `folder`: the only honest test of the folder's access rights, which a
// read-only attribute on a folder does not tell.
bool FolderWritable(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\.selvatro-probe-" + RandomPart();
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

bool Holds(const std::wstring& path, std::string_view bytes) {
    const UniqueHandle file = OpenDiskFile(path);
    if (!file) {
        return false;
    }
    LARGE_INTEGER size{};
    return GetFileSizeEx(file.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) == bytes.size() &&
           ReadAll(file.get()) == bytes;
}

// A save's temporary is named as TemporaryPrefix says, then RandomPart's eight digits and ".tmp", beside the file
// it replaces.
constexpr TemporaryShape kTemporary{8, ".tmp"};

// Takes away the temporaries that killed saves left in `folder` beside the file named `name`: of a temporary's
// name, no folder, stale. Failures change nothing.
void RemoveStaleTemporaries(const std::wstring& folder, const std::string& name) {
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileExW((folder + Widen(TemporaryPrefix(name)) + L"*.tmp").c_str(), FindExInfoBasic,
                                           &data, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {  // in 100 ns units
        return static_cast<std::int64_t>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    do {
        if (IsTemporaryName(Narrow(data.cFileName), name, kTemporary) &&
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            IsStaleTemporary(std::chrono::microseconds((ticks(now) - ticks(data.ftLastWriteTime)) / 10))) {
            DeleteFileW((folder + data.cFileName).c_str());
        }
    } while (FindNextFileW(search, &data));
    FindClose(search);
}

// Replaces `path` whole with `bytes`. Only an ordinary file, or a free name, is replaced: a folder or a device in
// its place is left as it is.
void ReplaceAtomically(const std::string& path, std::string_view bytes) {
    const std::wstring target = Widen(path);
    const std::optional<WIN32_FIND_DATAW> existing = Entry(target);
    if (existing) {
        if ((existing->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Fail(ERROR_DIRECTORY);
        }
        if (!IsFileEntry(*existing)) {
            throw FileError("Not an ordinary file but a device");
        }
        // The usual case at every logon: the list as it was loaded. Writing it again would only wait for the disk.
        if (Holds(target, bytes)) {
            return;
        }
    } else if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        throw FileError("Not an ordinary file but a device");  // a name that opens something without an entry
    }
    const PathParts parts = SplitPath(path);
    std::wstring folder = Widen(parts.folder);
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    RemoveStaleTemporaries(folder, parts.name);
    auto [file, temporary] = CreateUnique(folder + Widen(TemporaryPrefix(parts.name)), L".tmp", FILE_ATTRIBUTE_HIDDEN);
    const auto discard = [&temporary = temporary](DWORD error) {
        DeleteFileW(temporary.c_str());
        Fail(error);
    };
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        file.reset();
        discard(error);
    }
    file.reset();
    // The new file takes the old one's attributes (a list the user hid stays hidden), or none: a temporary is hidden
    // only while it is one. Read-only stays out, so that a failed move can still delete the temporary; a read-only
    // list refuses the move itself.
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD kept = existing ? existing->dwFileAttributes & kKept : 0;
    SetFileAttributesW(temporary.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    // ReplaceFileW keeps the old file's security and attributes; a new file, or a volume that cannot replace,
    // takes the rename, written through to the disk.
    if (existing &&
        ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        discard(GetLastError());
    }
}

}  // namespace

std::string PerUserFolder() {
    PWSTR folder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(folder, &CoTaskMemFree);
    if (FAILED(result) || folder == nullptr) {
        return {};
    }
    return Narrow(folder) + "\\Selvatro";
}

char Win32Files::separator() const {
    return '\\';
}

bool Win32Files::ordinaryFileExists(const std::string& path) {
    const std::optional<WIN32_FIND_DATAW> entry = Entry(Widen(path));
    constexpr DWORD kNotOrdinary =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return entry && (entry->dwFileAttributes & kNotOrdinary) == 0;
}

bool Win32Files::exists(const std::string& path) {
    return Entry(Widen(path)).has_value();
}

bool Win32Files::folderWritable(const std::string& folder) {
    return FolderWritable(FullPath(Widen(folder)));
}

void Win32Files::makeFolder(const std::string& folder) {
    const std::wstring full = FullPath(Widen(folder));
    const int made = SHCreateDirectoryExW(nullptr, full.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
        Fail(static_cast<DWORD>(made));
    }
    // What stood there already may be a file, in which no list can be made.
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Fail(ERROR_ALREADY_EXISTS);
    }
}

FileText Win32Files::readText(const std::string& path) {
    FileText file;
    file.source = path;
    // Every attribute is read: a list hidden by the user or a sync tool is still the list.
    DWORD openError = 0;
    const UniqueHandle handle = OpenDiskFile(Widen(file.source), &openError);
    if (openError != 0) {
        // Held open without sharing (an editor, a backup or sync tool, an antivirus scan), or no permission.
        file.status = FileText::Status::Unreadable;
        file.reason = SystemMessage(openError);
        return file;
    }
    if (!handle) {
        return file;  // absent: nothing there, or a folder or a device that is never read
    }
    DWORD error = 0;
    const std::string bytes = ReadAll(handle.get(), kTextReadLimit, &error);
    DecodedText decoded = DecodeText(bytes, &FromAnsi);
    encodings_[path] = decoded.encoding;
    file.text = std::move(decoded.text);
    file.status = error == 0 ? FileText::Status::Read : FileText::Status::Unreadable;
    if (error != 0) {
        file.reason = SystemMessage(error);  // a range that another program locked, a disk error
    }
    return file;
}

void Win32Files::replaceText(const std::string& path, const std::string& text, const std::string& readFrom) {
    const auto found = encodings_.find(readFrom);
    ReplaceAtomically(path, FileBytes(text, found == encodings_.end() ? TextEncoding::CodePage : found->second));
}

std::string Win32Files::writeTemporaryText(const std::string& suffix, const std::string& text) {
    std::array<wchar_t, MAX_PATH + 2> folder{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size()) {
        Fail();
    }
    auto [file, name] =
        CreateUnique(std::wstring(folder.data(), length) + L"selvatro-", Widen(suffix), FILE_ATTRIBUTE_TEMPORARY);
    if (!WriteAll(file.get(), FileBytes(text))) {
        const DWORD error = GetLastError();
        file.reset();
        DeleteFileW(name.c_str());
        Fail(error);
    }
    return Narrow(name);
}

void Win32Files::remove(const std::string& path) {
    if (!DeleteFileW(Widen(path).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND) {
        Fail();
    }
}

void Win32Files::setCurrentDrive(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const wchar_t letter =
        static_cast<wchar_t>(std::towupper(static_cast<wint_t>(static_cast<unsigned char>(path[0]))));
    if (letter < L'A' || letter > L'Z') {
        Fail(ERROR_INVALID_DRIVE);
    }
    // "X:" alone is the drive's own current folder, as the command prompt keeps one per drive.
    const std::wstring drive{letter, L':'};
    if (!SetCurrentDirectoryW(drive.c_str())) {
        Fail();
    }
}

void Win32Files::setCurrentFolder(const std::string& folder) {
    if (!SetCurrentDirectoryW(Widen(folder).c_str())) {
        Fail();
    }
}

}  // namespace selvatro::platform::win32
