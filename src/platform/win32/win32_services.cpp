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
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

namespace {

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

namespace {

// True when `path` ends in ".lnk", in any letter case.
bool IsShellLinkPath(const std::wstring& path) {
    return path.size() >= 4 && CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".lnk", 4, TRUE) == CSTR_EQUAL;
}

// True for the errors that say a path names nothing: no such file, folder, drive or share.
bool NamesNothing(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
            return true;
        default:
            return false;
    }
}

// Starts `program` with `arguments` after its quoted path, in `folder` (ours when empty), in the window state
// `show`. The path is the program, and the command line begins with its quoted copy: the parser's guess that runs
// "C:\Program.exe" for an unquoted "C:\Program Files\x.exe" never happens. A name cannot hold a double quote.
// Returns the process's identifier, or nothing with the failure in GetLastError.
std::optional<DWORD> CreateProgram(const std::wstring& program, const std::wstring& arguments,
                                   const std::wstring& folder, int show) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine.append(L" ").append(arguments);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION started{};
    if (program.empty() || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                           folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        if (program.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
        return std::nullopt;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return started.dwProcessId;
}

// Starts the link `path` as Explorer starts it: a program directly, any other file (a batch file, a document, a
// folder) through the shell's association. Returns the process's identifier, 0 where the shell started none of its
// own (a document opened by a program that was already running).
DWORD StartShellLink(const std::string& path) {
    const std::wstring file = Widen(path);
    const std::optional<ShellLinkContents> link = ReadShellLink(file);
    if (!link) {
        throw StartFailed(path + ": the shortcut cannot be read: it is damaged, or no shortcut");
    }
    if (link->target.empty()) {
        throw StartFailed(path + ": the shortcut names no file to start (a shell item without a path)");
    }
    const std::string target = Narrow(link->target);
    const DWORD attributes = GetFileAttributesW(link->target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && NamesNothing(GetLastError())) {
        throw ProgramMissing(path + ": its target " + target + " is gone");
    }
    const bool folderTarget = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const wchar_t* extension = PathFindExtensionW(link->target.c_str());
    const bool program = !folderTarget && (CompareStringOrdinal(extension, -1, L".exe", -1, TRUE) == CSTR_EQUAL ||
                                           CompareStringOrdinal(extension, -1, L".com", -1, TRUE) == CSTR_EQUAL);
    // The system's reasons name the target where they have a place for it; a working folder that is not there is
    // named, since the system's words ("The directory name is invalid.") do not say which.
    const auto failure = [&](DWORD error) {
        std::string reason = path;
        reason.append(": ");
        if (error == ERROR_DIRECTORY && !link->folder.empty()) {
            reason.append("its working folder ").append(Narrow(link->folder)).append(": ");
        }
        return StartFailed(reason.append(SystemMessage(error, target)));
    };
    if (program) {
        const std::optional<DWORD> started = CreateProgram(link->target, link->arguments, link->folder, link->show);
        if (!started) {
            throw failure(GetLastError());
        }
        return *started;
    }
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    // No error box of the shell's own: the failure is the run's to report. Not asynchronous: the program may end a
    // moment after this start.
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    shell.lpFile = link->target.c_str();
    shell.lpParameters = link->arguments.empty() ? nullptr : link->arguments.c_str();
    shell.lpDirectory = link->folder.empty() ? nullptr : link->folder.c_str();
    shell.nShow = link->show;
    if (!ShellExecuteExW(&shell)) {
        throw failure(GetLastError());
    }
    const UniqueHandle process = Own(shell.hProcess);
    return process ? GetProcessId(process.get()) : 0;
}

}  // namespace

double Win32Programs::start(const std::string& path) {
    const std::wstring program = Widen(path);
    if (IsShellLinkPath(program)) {
        return static_cast<double>(StartShellLink(path));
    }
    const std::optional<DWORD> started = CreateProgram(program, L"", L"", SW_SHOWNORMAL);
    if (!started) {
        // The system's reason may name the program ("Bad EXE format for %1."): it gets the path.
        throw StartFailed(SystemMessage(GetLastError(), path));
    }
    return static_cast<double>(*started);
}

void Win32Programs::prepare(const std::string& /*path*/) {
    // Nothing to set up ahead: a started process belongs to no job of ours.
}

std::optional<std::string> Win32Programs::shortcutTarget(const std::string& path) {
    try {
        const std::wstring file = Widen(path);
        if (!IsShellLinkPath(file)) {
            return std::nullopt;
        }
        const std::optional<ShellLinkContents> link = ReadShellLink(file);
        if (!link || link->target.empty()) {
            return std::nullopt;
        }
        return Narrow(link->target);
    } catch (...) {
        return std::nullopt;  // out of memory: no target known
    }
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
