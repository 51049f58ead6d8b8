#include "platform/win32/win32_dialogs.h"

#include <commdlg.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <vector>

#include "platform/win32/win32_text.h"

namespace selvatro::platform::win32 {

void Win32MessageBoxes::show(const std::string& text, platform::MessageStyle style, const std::string& title) {
    const std::wstring wideText = Widen(text);
    const std::wstring wideTitle = Widen(title);
    const UINT kind = MB_OK | (style == platform::MessageStyle::Exclamation ? MB_ICONEXCLAMATION : 0U);
    gate_.runModal([&] { MessageBoxW(owner_, wideText.c_str(), wideTitle.c_str(), kind); });
}

bool Win32MessageBoxes::ask(const std::string& question, const std::string& title) {
    const std::wstring wideText = Widen(question);
    const std::wstring wideTitle = Widen(title);
    int answer = IDNO;
    gate_.runModal([&] {
        answer = MessageBoxW(owner_, wideText.c_str(), wideTitle.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1);
    });
    return answer == IDYES;
}

std::wstring DialogFilter(const std::vector<FilterEntry>& filter) {
    std::wstring pairs;
    for (const FilterEntry& entry : filter) {
        pairs += Widen(entry.label);
        pairs.push_back(L'\0');
        pairs += Widen(entry.pattern);
        pairs.push_back(L'\0');
    }
    pairs.push_back(L'\0');
    return pairs;
}

namespace {

// Wine's item dialog takes places and shows none (AddPlace is a stub that answers S_OK).
bool OnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The request's places are offered by the common item dialog alone, at the top of its navigation pane: it is the
// dialog that GetOpenFileNameW shows on Windows since Vista, set up the same way, so the user sees the same dialog
// with two more places. Nothing when it cannot offer them: the caller shows the classic one. Inside, the chosen
// file, or nothing when the user cancelled.
std::optional<std::optional<std::string>> ShowWithPlaces(HWND owner, const OpenRequest& request,
                                                         const std::wstring& folder) {
    using Microsoft::WRL::ComPtr;
    ComPtr<IFileOpenDialog> dialog;
    if (OnWine() ||
        FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return std::nullopt;
    }
    for (auto place = request.places.rbegin(); place != request.places.rend(); ++place) {
        ComPtr<IShellItem> item;
        if (FAILED(SHCreateItemFromParsingName(Widen(*place).c_str(), nullptr, IID_PPV_ARGS(&item))) ||
            FAILED(dialog->AddPlace(item.Get(), FDAP_TOP))) {
            return std::nullopt;
        }
    }
    std::vector<std::wstring> texts;
    for (const FilterEntry& entry : request.filter) {
        texts.push_back(Widen(entry.label));
        texts.push_back(Widen(entry.pattern));
    }
    std::vector<COMDLG_FILTERSPEC> types;
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2) {
        types.push_back({texts[i].c_str(), texts[i + 1].c_str()});
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    // As the classic dialog is set: a chosen shortcut stays the shortcut, and a name that names no file is returned
    // for the program to judge.
    options = (options | FOS_FORCEFILESYSTEM | FOS_NODEREFERENCELINKS) & ~(FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST);
    ComPtr<IShellItem> start;
    if (!folder.empty()) {
        SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_PPV_ARGS(&start));
    }
    dialog->SetTitle(Widen(request.title).c_str());
    if (!types.empty()) {
        dialog->SetFileTypes(static_cast<UINT>(types.size()), types.data());
        dialog->SetFileTypeIndex(request.filterIndex > 0 ? static_cast<UINT>(request.filterIndex) : 1U);
    }
    dialog->SetOptions(options);
    if (start) {
        dialog->SetFolder(start.Get());
    }
    if (FAILED(dialog->Show(owner))) {
        return std::optional<std::string>();  // cancelled, or closed without a choice
    }
    ComPtr<IShellItem> chosen;
    PWSTR path = nullptr;
    if (FAILED(dialog->GetResult(&chosen)) || FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        return std::optional<std::string>();
    }
    std::wstring file(path);
    CoTaskMemFree(path);
    // The classic dialog makes the chosen file's folder current; this one leaves it to the program.
    const std::size_t at = file.find_last_of(L'\\');
    if (at != std::wstring::npos) {
        SetCurrentDirectoryW(file.substr(0, at == 2 ? 3 : at).c_str());
    }
    return std::optional<std::string>(Narrow(file));
}

}  // namespace

std::optional<std::string> ShowOpenDialog(HWND owner, const OpenRequest& request) {
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring title = Widen(request.title);
    // The picker has just made the row's folder current: the dialog starts there, not in the folder that the
    // system remembers for this program.
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    if (!request.places.empty()) {
        if (std::optional<std::optional<std::string>> chosen = ShowWithPlaces(owner, request, folder)) {
            return *chosen;
        }
    }
    std::wstring file(32768, L'\0');  // long paths included

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.size() > 1 ? filter.c_str() : nullptr;
    dialog.nFilterIndex = request.filterIndex > 0 ? static_cast<DWORD>(request.filterIndex) : 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    // The Explorer style is the dialog's look, not an option; the options are the program's alone. So the current
    // folder follows the chosen file (a relative path typed later resolves against it), and a name that names no
    // file is returned for the program to judge, as it judges a typed path. A chosen shortcut is returned as itself,
    // whatever the filter entry, since the row starts it with its arguments and working folder: by default the
    // dialog hands back the file that the shortcut points to instead. (Wine's dialog hands back the shortcut either
    // way and ignores this option.)
    dialog.Flags = OFN_EXPLORER | OFN_NODEREFERENCELINKS;
    if ((request.flags & platform::kHideReadOnly) != 0) {
        dialog.Flags |= OFN_HIDEREADONLY;
    }
    if (GetOpenFileNameW(&dialog) == FALSE) {
        return std::nullopt;
    }
    file.resize(wcslen(file.c_str()));
    return Narrow(file);
}

}  // namespace selvatro::platform::win32
