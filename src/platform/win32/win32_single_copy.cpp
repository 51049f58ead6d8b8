#include "platform/win32/win32_single_copy.h"

#include <cstdint>

#include "platform/file_rules.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

// The folder's own name, whatever way `folder` reaches it: its short 8.3 name ("C:\ALIASF~1"), a link or a junction,
// another drive letter mapped to it (SUBST). Where the system cannot tell, the name as given.
std::wstring FinalFolderName(const std::wstring& folder) {
    const HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        std::wstring final(MAX_PATH, L'\0');
        DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
        if (length >= final.size()) {
            final.resize(length);
            length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
        }
        CloseHandle(handle);
        if (length > 0 && length < final.size()) {
            final.resize(length);
            return final;
        }
    }
    const DWORD size = GetLongPathNameW(folder.c_str(), nullptr, 0);
    std::wstring longName(size, L'\0');
    if (size > 0 && GetLongPathNameW(folder.c_str(), longName.data(), size) == size - 1) {
        longName.resize(size - 1);
        return longName;
    }
    return folder;
}

// The folder's final name in upper case, as the file system compares names: "C:\Tools", "c:\tools" and
// "C:\TOOLS~1" are the same folder and so the same list.
std::string FoldedFolderName(const std::string& folder) {
    std::wstring folded = FinalFolderName(Widen(folder));
    if (!folded.empty()) {
        CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    }
    return Narrow(folded);
}

}  // namespace

UINT ShowAgainMessage() {
    static const UINT message = RegisterWindowMessageW(L"Selvatro.ShowAgain");
    return message;
}

void SingleCopy::HandleCloser::operator()(HANDLE handle) const {
    if (handle != nullptr) {
        CloseHandle(handle);
    }
}

std::wstring SingleCopy::MutexName(const std::string& identity) {
    // Local\: one claim per session, as each user's list is that user's own.
    return L"Local\\Selvatro-" + Widen(ListIdentity(FoldedFolderName(identity), "\\/"));
}

SingleCopy::SingleCopy(const std::string& identity) : name_(MutexName(identity)) {
    mutex_.reset(CreateMutexW(nullptr, FALSE, name_.c_str()));
    first_ = mutex_ == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

SingleCopy::~SingleCopy() = default;

void SingleCopy::publishWindow(HWND window) {
    const std::wstring name = name_ + L"-window";
    published_.reset(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(std::uint64_t), name.c_str()));
    if (published_ == nullptr) {
        return;
    }
    if (void* view = MapViewOfFile(published_.get(), FILE_MAP_WRITE, 0, 0, sizeof(std::uint64_t))) {
        *static_cast<volatile std::uint64_t*>(view) = reinterpret_cast<std::uintptr_t>(window);
        UnmapViewOfFile(view);
    }
}

bool SingleCopy::showFirst(DWORD timeoutMs) const {
    const std::wstring name = name_ + L"-window";
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // The first copy may be starting at this very moment, its window not made yet.
    for (;;) {
        if (const HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str())) {
            std::uint64_t value = 0;
            if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(std::uint64_t))) {
                value = *static_cast<const volatile std::uint64_t*>(view);
                UnmapViewOfFile(view);
            }
            CloseHandle(mapping);
            const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
            if (window != nullptr && IsWindow(window)) {
                // This process was just started by the user and may hand the foreground on to the first copy.
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                AllowSetForegroundWindow(owner);
                return PostMessageW(window, ShowAgainMessage(), 0, 0) != FALSE;
            }
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(50);
    }
}

}  // namespace selvatro::platform::win32
