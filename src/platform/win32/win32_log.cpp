#include "platform/win32/win32_log.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/run_log_rules.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

// A reparse point is opened as itself, never followed to where it leads; only a file on a disk is written.
constexpr DWORD kLogFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsOrdinaryFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool WriteWhole(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(file, bytes.data(), size, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

LocalTime Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// What the log becomes when it is trimmed, read from its end; nothing when it stays as it is.
std::optional<std::string> Trimmed(const std::wstring& path) {
    const UniqueHandle file =
        Own(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, kLogFlags, nullptr));
    LARGE_INTEGER size{};
    if (!file || !IsOrdinaryFile(file.get()) || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
        return std::nullopt;
    }
    const auto length = static_cast<unsigned long long>(size.QuadPart);
    const unsigned long long from = length > kLogTailBytes ? length - kLogTailBytes : 0;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(from);
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        return std::nullopt;
    }
    std::string tail(static_cast<std::size_t>(length - from), '\0');
    std::size_t done = 0;
    while (done < tail.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), tail.data() + done, static_cast<DWORD>(tail.size() - done), &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;  // shortened meanwhile
        }
        done += got;
    }
    tail.resize(done);
    return TrimmedLog(tail, from > 0);
}

// The log is rewritten whole, through a temporary moved over it, so that it is never found half trimmed. A line
// that another copy appends between the read and the move is lost.
void Trim(const std::wstring& folder, const std::wstring& path) {
    const std::optional<std::string> kept = Trimmed(path);
    if (!kept) {
        return;
    }
    std::array<wchar_t, MAX_PATH + 1> temporary{};
    if (GetTempFileNameW(folder.c_str(), L"slv", 0, temporary.data()) == 0) {
        return;
    }
    bool written = false;
    {
        const UniqueHandle file = Own(CreateFileW(temporary.data(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file && WriteWhole(file.get(), *kept);
    }
    if (!written || !MoveFileExW(temporary.data(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.data());
    }
}

// Opened for appending only: each write goes to the end of the file, whoever else appends to it.
UniqueHandle OpenForAppend(const std::wstring& path) {
    return Own(CreateFileW(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, kLogFlags, nullptr));
}

}  // namespace

std::wstring LogFolder() {
    PWSTR known = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &known);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(known, &CoTaskMemFree);
    std::wstring folder;
    if (SUCCEEDED(result) && known != nullptr) {
        folder = known;
    } else {
        std::array<wchar_t, 32768> variable{};
        const DWORD length =
            GetEnvironmentVariableW(L"LOCALAPPDATA", variable.data(), static_cast<DWORD>(variable.size()));
        if (length == 0 || length >= variable.size()) {
            return {};
        }
        folder.assign(variable.data(), length);
    }
    return folder + L"\\Selvatro";
}

void AppendToLog(const std::wstring& folder, std::string_view line, bool trimFirst) noexcept {
    try {
        if (folder.empty()) {
            return;
        }
        const std::wstring path = folder + L"\\" + Widen(kLogFileName);
        if (trimFirst) {
            Trim(folder, path);
        }
        const std::string text = LogLine(Now(), line);
        UniqueHandle file = OpenForAppend(path);
        if (!file && GetLastError() == ERROR_PATH_NOT_FOUND) {
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
            file = OpenForAppend(path);
        }
        if (file && IsOrdinaryFile(file.get())) {
            // Appended in one call, so that the lines of two copies running at once never mix inside a line.
            WriteWhole(file.get(), text);
        }
    } catch (...) {
        // The log is a courtesy: a line that cannot be written never stops a run.
    }
}

void AppendToRunLog(std::string_view line) noexcept {
    static std::atomic<bool> trimmed{false};
    try {
        static const std::wstring folder = LogFolder();
        AppendToLog(folder, line, !trimmed.exchange(true));
    } catch (...) {
        // No memory for the folder's name: the line is lost.
    }
}

}  // namespace selvatro::platform::win32
