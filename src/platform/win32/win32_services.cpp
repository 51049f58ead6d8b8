#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_log.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

// The full path of the running executable, however long.
std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Copies `text` into the caller's fixed-size buffer, ended by a NUL, cut short of its end and never inside a
// character; the buffer keeps its size.
void CopyIntoBuffer(const std::string& text, std::string& buffer, std::size_t room) {
    room = std::min(room, buffer.size());
    if (room == 0) {
        return;
    }
    std::size_t length = std::min(text.size(), room - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0u) == 0x80u) {
        --length;
    }
    std::copy_n(text.begin(), length, buffer.begin());
    buffer[length] = '\0';
}

// COM for the calling thread for as long as this lives; a thread where COM already runs keeps it as it is.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

// The shell's result, a pseudo-handle that carries a number.
std::int32_t ShellCode(HINSTANCE result) {
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    return code > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(code);
}

}  // namespace

// ---- the application's facts ----

Win32AppFacts::Win32AppFacts() {
    const std::wstring path = ModulePath();
    const std::size_t at = path.find_last_of(L"\\/");
    std::wstring folder = at == std::wstring::npos ? std::wstring() : path.substr(0, at);
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';  // a program in a drive's root: "C:\", not the drive's current folder
    }
    folder_ = Narrow(folder);
    name_ = Narrow(at == std::wstring::npos ? path : path.substr(at + 1));
}

std::string Win32AppFacts::executableName() const {
    return name_.empty() ? productName() : name_;
}

std::string Win32AppFacts::folder() const {
    return folder_;
}

std::string Win32AppFacts::productName() const {
    return "Selvatro.exe";
}

std::string Win32AppFacts::fileDescription() const {
    return "selvatro.exe";
}

Version Win32AppFacts::version() const {
    return {SELVATRO_VERSION_MAJOR, SELVATRO_VERSION_MINOR, SELVATRO_VERSION_PATCH};
}

std::string Win32AppFacts::ownFileName() const {
    return "selvatro.exe";
}

std::string Win32AppFacts::rootFolder() const {
    std::array<wchar_t, 8> drive{};
    const DWORD length = GetEnvironmentVariableW(L"SystemDrive", drive.data(), static_cast<DWORD>(drive.size()));
    if (length == 2 && drive[1] == L':') {
        return Narrow(std::wstring(drive.data(), 2)) + "\\";
    }
    return "C:\\";
}

std::string Win32AppFacts::userListFolder() const {
    return PerUserFolder();
}

// ---- program start ----

double Win32Programs::start(const std::string& path) {
    // The path is the program, and the command line only its quoted copy: the parser's guess that runs
    // "C:\Program.exe" for an unquoted "C:\Program Files\x.exe" never happens. A name cannot hold a double quote.
    const std::wstring program = Widen(path);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (path.empty() || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &started)) {
        // The system's reason may name the program ("Bad EXE format for %1."): it gets the path.
        throw StartFailed(SystemMessage(path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError(), path));
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return static_cast<double>(started.dwProcessId);
}

std::optional<std::string> Win32Programs::shortcutTarget(const std::string& path) {
    (void)path;
    return std::nullopt;
}

std::string Win32Programs::shortcutPattern() const {
    return "*.lnk";
}

// ---- the user's language ----

void Win32Language::englishLanguageName(std::string& buffer, int size) {
    // The ANSI form, as the design asks, into a buffer that any name fits: a short one would get nothing at all,
    // where the caller expects the name cut short.
    std::array<char, 128> name{};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, name.data(), static_cast<int>(name.size())) == 0) {
        return;  // no name known: the buffer stays as it was
    }
    name.back() = '\0';
    CopyIntoBuffer(name.data(), buffer, static_cast<std::size_t>(std::max(0, size)));
}

std::string Win32Language::decimalSeparator() const {
    std::array<wchar_t, 8> separator{};
    const int length =
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator.data(), static_cast<int>(separator.size()));
    if (length <= 1) {
        return ".";
    }
    return Narrow(std::wstring(separator.data(), static_cast<std::size_t>(length - 1)));
}

// ---- the Startup shortcut ----

std::int32_t StartupShortcuts::createShellLink(const std::string& /*folder*/, const std::string& linkName,
                                               const std::string& target, const std::string& arguments) {
    if (linkName.empty()) {
        return 0;
    }
    const ComScope com;
    PWSTR startup = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_CREATE, nullptr, &startup);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> ownedStartup(startup, &CoTaskMemFree);
    if (FAILED(found) || startup == nullptr) {
        return 0;
    }
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) {
        return 0;
    }
    const std::wstring program = Widen(target);
    const std::size_t at = program.find_last_of(L"\\/");
    const std::wstring workingFolder = at == std::wstring::npos ? std::wstring() : program.substr(0, at);
    std::wstring file = std::wstring(startup) + L"\\" + Widen(linkName);
    if (file.size() < 4 || CompareStringOrdinal(file.c_str() + file.size() - 4, 4, L".lnk", 4, TRUE) != CSTR_EQUAL) {
        file += L".lnk";
    }
    Microsoft::WRL::ComPtr<IPersistFile> persist;
    if (FAILED(link->SetPath(program.c_str())) || FAILED(link->SetArguments(Widen(arguments).c_str())) ||
        FAILED(link->SetWorkingDirectory(workingFolder.c_str())) || FAILED(link->SetShowCmd(SW_SHOWNORMAL)) ||
        FAILED(link.As(&persist)) || FAILED(persist->Save(file.c_str(), TRUE))) {
        return 0;
    }
    return 1;
}

// ---- the default web browser ----

namespace {

// The name that the build gives the guide's resource in the program.
constexpr wchar_t kGuideResource[] = L"USERGUIDE";
// The carried guide's name in the temporary folder: one name, rewritten, so that clicks do not leave a file each.
constexpr wchar_t kGuideCopyName[] = L"selvatro-guide.htm";

bool IsOrdinaryFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// True when `path` is a file that holds `bytes` exactly.
bool HoldsExactly(const std::wstring& path, std::string_view bytes) {
    const UniqueHandle file =
        Own(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size) ||
        static_cast<unsigned long long>(size.QuadPart) != bytes.size()) {
        return false;
    }
    std::string held(bytes.size(), '\0');
    std::size_t done = 0;
    while (done < held.size()) {
        DWORD read = 0;
        const auto ask = static_cast<DWORD>(std::min<std::size_t>(held.size() - done, 1U << 20));
        if (!ReadFile(file.get(), held.data() + done, ask, &read, nullptr) || read == 0) {
            return false;
        }
        done += read;
    }
    return held == bytes;
}

// The carried guide as a page in the user's temporary folder, where the program's other temporary page goes. It
// cannot be removed after the click, since the browser reads it later and may read it again, so it has one fixed
// name that each click rewrites only when it differs (a browser may hold it open). A new copy is written whole
// under a unique name, then moved over the old one: a browser never reads half a page. Nothing when the folder
// cannot be written.
std::optional<std::wstring> WriteGuideCopy(std::string_view page) {
    std::array<wchar_t, MAX_PATH + 2> folder{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size()) {
        return std::nullopt;
    }
    const std::wstring target = std::wstring(folder.data(), length) + kGuideCopyName;
    if (HoldsExactly(target, page)) {
        return target;
    }
    std::array<wchar_t, MAX_PATH + 2> part{};
    if (GetTempFileNameW(folder.data(), L"sel", 0, part.data()) == 0) {
        return std::nullopt;
    }
    bool written = false;
    {
        const UniqueHandle file =
            Own(CreateFileW(part.data(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        written = file != nullptr && page.size() <= MAXDWORD &&
                  WriteFile(file.get(), page.data(), static_cast<DWORD>(page.size()), &count, nullptr) &&
                  count == page.size();
    }
    if (!written || !MoveFileExW(part.data(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(part.data());
        return std::nullopt;
    }
    return target;
}

}  // namespace

std::string_view CarriedGuide() {
    const HMODULE program = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(program, kGuideResource, RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(program, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return {};
    }
    return {static_cast<const char*>(bytes), SizeofResource(program, found)};
}

std::int32_t ShellBrowser::findExecutable(const std::string& file, const std::string& folder, std::string& result) {
    std::array<wchar_t, MAX_PATH> found{};
    const std::wstring wideFolder = Widen(folder);
    const std::int32_t code = ShellCode(
        FindExecutableW(Widen(file).c_str(), wideFolder.empty() ? nullptr : wideFolder.c_str(), found.data()));
    found.back() = L'\0';
    CopyIntoBuffer(code > kShellFailureCeiling ? Narrow(found.data()) : std::string(), result, result.size());
    return code;
}

std::int32_t ShellBrowser::shellExecute(const std::string& operation, const std::string& command,
                                        const std::string& parameters, const std::string& folder,
                                        std::int32_t showState) {
    const std::wstring wideOperation = Widen(operation);
    std::wstring wideParameters = Widen(parameters);
    // "README.html": no scheme, no drive, no root. The browser would take it from whatever folder is current.
    if (!guideFolder_.empty() && !wideParameters.empty() &&
        wideParameters.find_first_of(L":\\/") == std::wstring::npos) {
        std::wstring file = Widen(guideFolder_) + L"\\" + wideParameters;
        if (!IsOrdinaryFile(file)) {
            // A bare copy of the program: the guide it carries, or no page at all, which the caller tells the user,
            // rather than an address that the browser cannot open.
            const std::optional<std::wstring> copy =
                carriedGuide_.empty() ? std::nullopt : WriteGuideCopy(carriedGuide_);
            if (!copy) {
                return kShellFileNotFound;
            }
            file = *copy;
        }
        std::array<wchar_t, 2048> address{};
        DWORD length = static_cast<DWORD>(address.size());
        if (SUCCEEDED(UrlCreateFromPathW(file.c_str(), address.data(), &length, 0))) {
            wideParameters.assign(address.data(), length);
        }
    }
    const std::wstring wideFolder = Widen(folder);
    // The design hands the lookup's path on with a blank after it.
    std::wstring program = Widen(command);
    program.erase(0, std::min(program.find_first_not_of(L' '), program.size()));
    program.erase(program.find_last_not_of(L' ') + 1);
    return ShellCode(ShellExecuteW(owner_, wideOperation.empty() ? nullptr : wideOperation.c_str(), program.c_str(),
                                   wideParameters.empty() ? nullptr : wideParameters.c_str(),
                                   wideFolder.empty() ? nullptr : wideFolder.c_str(), showState));
}

// ---- the process ----

void Win32Process::report(const std::string& line) {
    OutputDebugStringW(Widen("selvatro: " + line + "\n").c_str());
    AppendToRunLog(line);
}

void Win32Process::record(const std::string& line) {
    OutputDebugStringW(Widen("selvatro: " + line + "\n").c_str());
    AppendToRunLog(line);
}

double Win32Process::monotonicSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Win32Process::end(int status) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace selvatro::platform::win32
