// Makes a shell link as Explorer's "New shortcut" makes one, for the end-to-end tests:
// win32_make_link LINK TARGET ARGUMENTS FOLDER. Ends with status 0 once the link is saved.

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>

int wmain() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 5) {
        std::fputs("usage: win32_make_link LINK TARGET ARGUMENTS FOLDER\n", stderr);
        return 2;
    }
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(result)) {
        result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link));
    }
    if (SUCCEEDED(result) && SUCCEEDED(result = link->SetPath(arguments[2])) &&
        SUCCEEDED(result = link->SetArguments(arguments[3])) &&
        SUCCEEDED(result = link->SetWorkingDirectory(arguments[4])) &&
        SUCCEEDED(result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        result = persist->Save(arguments[1], TRUE);
    }
    if (persist != nullptr) {
        persist->Release();
    }
    if (link != nullptr) {
        link->Release();
    }
    LocalFree(arguments);
    if (FAILED(result)) {
        std::fprintf(stderr, "win32_make_link: the link could not be made (0x%08lx)\n",
                     static_cast<unsigned long>(result));
        return 1;
    }
    return 0;
}
