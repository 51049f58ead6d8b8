#include "platform/win32/win32_shell.h"

#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <array>

#include "platform/win32/win32_handle.h"

namespace selvatro::platform::win32 {

namespace {

// `text` with its environment strings ("%ProgramFiles%") replaced by their values; a name that is not set stays as
// it is, as the shell leaves it.
std::wstring ExpandEnvironment(const std::wstring& text) {
    if (text.find(L'%') == std::wstring::npos) {
        return text;
    }
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    const DWORD written = needed == 0 ? 0 : ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) {
        return text;
    }
    expanded.resize(written - 1);
    return expanded;
}

// The window states that a link can ask for, as Explorer starts them: a minimised program does not take the focus.
int LinkShowCommand(int stored) {
    switch (stored) {
        case SW_SHOWMAXIMIZED:
            return SW_SHOWMAXIMIZED;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            return SW_SHOWMINNOACTIVE;
        default:
            return SW_SHOWNORMAL;
    }
}

// The show command in the header of the link file `file`, which IPersistFile has just accepted (a 76-byte header
// whose show command is at byte 60). Wine's loader drops it and answers "normal" for every link.
std::optional<int> HeaderShowCommand(const std::wstring& file) {
    const UniqueHandle link =
        Own(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::array<unsigned char, 76> header{};
    DWORD read = 0;
    if (!link || !ReadFile(link.get(), header.data(), static_cast<DWORD>(header.size()), &read, nullptr) ||
        read != header.size() || header[0] != header.size() || header[1] != 0 || header[2] != 0 || header[3] != 0) {
        return std::nullopt;
    }
    return static_cast<int>(header[60] | (header[61] << 8U) | (header[62] << 16U) | (header[63] << 24U));
}

}  // namespace

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

std::optional<ShellLinkContents> ReadShellLink(const std::wstring& file) {
    const ComScope com;
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&persist)) || FAILED(persist->Load(file.c_str(), STGM_READ))) {
        return std::nullopt;
    }
    // Room for the longest path and command line that the system takes.
    constexpr int kRoom = 32768;
    std::wstring text(kRoom, L'\0');
    const auto take = [&text](HRESULT result) {
        text.resize(SUCCEEDED(result) ? wcsnlen(text.c_str(), text.size()) : 0);
        std::wstring taken = text;
        text.assign(kRoom, L'\0');
        return taken;
    };
    ShellLinkContents contents;
    // The raw path keeps the environment strings of a link that stores them ("%ProgramFiles%\..."), expanded here
    // for this user and machine, as Explorer does.
    contents.target = ExpandEnvironment(take(link->GetPath(text.data(), kRoom, nullptr, SLGP_RAWPATH)));
    contents.arguments = take(link->GetArguments(text.data(), kRoom));
    contents.folder = ExpandEnvironment(take(link->GetWorkingDirectory(text.data(), kRoom)));
    int show = SW_SHOWNORMAL;
    if (FAILED(link->GetShowCmd(&show)) || show == SW_SHOWNORMAL) {
        show = HeaderShowCommand(file).value_or(SW_SHOWNORMAL);
    }
    contents.show = LinkShowCommand(show);
    return contents;
}

}  // namespace selvatro::platform::win32
