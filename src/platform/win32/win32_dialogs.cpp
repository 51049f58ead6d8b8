#include "platform/win32/win32_dialogs.h"

#include <commdlg.h>

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

std::optional<std::string> ShowOpenDialog(HWND owner, const OpenRequest& request) {
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring title = Widen(request.title);
    // The picker has just made the row's folder current: the dialog starts there, not in the folder that the
    // system remembers for this program.
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
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
