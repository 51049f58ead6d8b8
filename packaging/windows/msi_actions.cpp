// The custom actions of Selvatro's Windows Installer package. They live in the package's Binary table, never on
// the disk of the machine, and run from the removal's script with the install folder as their CustomActionData.
// Each says nothing and fails nothing: a link or a list that cannot be removed must not undo a removal.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

namespace {

// The link that the program puts in the Startup folder of whoever starts it, and the list beside the program.
constexpr wchar_t kStartupLinkName[] = L"Selvatro.lnk";
constexpr wchar_t kListName[] = L"selvatro.cfg";

// The largest path that Windows' wide-character calls take.
constexpr DWORD kPathLimit = 32768;

std::wstring ActionData(MSIHANDLE install) {
    wchar_t none[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(install, L"CustomActionData", none, &size) != ERROR_MORE_DATA) {
        return {};
    }
    std::wstring value(size + 1, L'\0');
    size += 1;
    if (MsiGetPropertyW(install, L"CustomActionData", value.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(size);
    return value;
}

// The install folder that the removal's script hands an action, ended by a separator; empty when it gave none.
std::wstring InstallFolderOf(MSIHANDLE install) {
    std::wstring folder = ActionData(install);
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder;
}

// The long form of a path (a link or the installer may give a short 8.3 name), or the path as it is when the
// system cannot tell.
std::wstring LongForm(const std::wstring& path) {
    std::wstring buffer(kPathLimit, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), kPathLimit);
    if (length == 0 || length >= kPathLimit) {
        return path;
    }
    buffer.resize(length);
    return buffer;
}

// Whether `path` names something inside `folder`, both in their long forms and without regard to case, as the
// file system compares; "C:\Apps\Selvatro2" is not inside "C:\Apps\Selvatro".
bool Inside(const std::wstring& path, const std::wstring& folder) {
    std::wstring prefix = LongForm(folder);
    if (prefix.empty()) {
        return false;
    }
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    const std::wstring full = LongForm(path);
    return full.size() > prefix.size() &&
           CompareStringOrdinal(full.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// The program that the shortcut `link` starts, empty when it cannot be read.
std::wstring LinkTarget(const std::wstring& link) {
    std::wstring target;
    IShellLinkW* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell)))) {
        return target;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        std::wstring buffer(kPathLimit, L'\0');
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) &&
            shell->GetPath(buffer.data(), static_cast<int>(kPathLimit), nullptr, 0) == S_OK) {
            buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
            target = buffer;
        }
        file->Release();
    }
    shell->Release();
    return target;
}

}  // namespace

// Removes the Startup link of the user who removes Selvatro, when it starts the program of the install folder;
// a link to a copy elsewhere (a portable one) is that copy's, which still needs it. Other users' links are out of
// reach: a removal runs for one user only.
extern "C" __declspec(dllexport) UINT __stdcall RemoveStartupLink(MSIHANDLE install) {
    const std::wstring folder = ActionData(install);
    if (folder.empty()) {
        return ERROR_SUCCESS;
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PWSTR startup = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_DONT_VERIFY, nullptr, &startup)) &&
        startup != nullptr) {
        const std::wstring link = std::wstring(startup) + L"\\" + kStartupLinkName;
        const std::wstring target = LinkTarget(link);
        if (!target.empty() && Inside(target, folder)) {
            DeleteFileW(link.c_str());
        }
    }
    CoTaskMemFree(startup);
    // S_OK and S_FALSE are each balanced by an uninitialisation; a thread already in another model is not.
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return ERROR_SUCCESS;
}

// Switches back on, for the user who removes Selvatro, the programs that it took over from the desktop's own start
// at logon, through the program's own /give-back while it is still there. A program that does not answer within
// half a minute is left behind: the removal goes on.
extern "C" __declspec(dllexport) UINT __stdcall GiveBackLogonEntries(MSIHANDLE install) {
    const std::wstring folder = InstallFolderOf(install);
    if (folder.empty()) {
        return ERROR_SUCCESS;
    }
    const std::wstring program = folder + L"selvatro.exe";
    std::wstring command = L"\"" + program + L"\" /give-back";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &started)) {
        WaitForSingleObject(started.hProcess, 30000);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    return ERROR_SUCCESS;
}

// Removes the list that an administrator put beside the program, asked for with REMOVELIST=1. It runs before the
// installer removes the program's files, so that the folder, then empty, goes with them.
extern "C" __declspec(dllexport) UINT __stdcall RemoveMachineList(MSIHANDLE install) {
    const std::wstring folder = InstallFolderOf(install);
    if (folder.empty()) {
        return ERROR_SUCCESS;
    }
    const std::wstring list = folder + kListName;
    // A list hidden or marked read-only by hand is removed all the same.
    SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(list.c_str());
    return ERROR_SUCCESS;
}
