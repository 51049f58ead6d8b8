#pragma once

// What the services and the logon entries share of the shell: COM for a while, the running program's own path, and
// what a shell link starts.

#include <objbase.h>
#include <windows.h>

#include <optional>
#include <string>

namespace selvatro::platform::win32 {

/// COM for the calling thread for as long as this lives; a thread where COM already runs keeps it as it is.
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

/// The full path of the running executable, however long; empty when the system does not tell.
std::wstring ModulePath();

/// What a shell link starts, read from it as it stands.
struct ShellLinkContents {
    std::wstring target;  ///< its file, environment strings expanded; empty for a shell item that is no file
    std::wstring arguments;
    std::wstring folder;  ///< the working folder, environment strings expanded; empty when the link names none
    int show = SW_SHOWNORMAL;
};

/// Reads the link `file`, read only. Resolve is never called: it would look for a moved target on the disks and the
/// network, with a wait or a window that nobody answers at logon, and may rewrite the link. A target that is gone
/// is reported as gone instead. Nothing when the file is not a link that can be read.
std::optional<ShellLinkContents> ReadShellLink(const std::wstring& file);

}  // namespace selvatro::platform::win32
