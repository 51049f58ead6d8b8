#include "platform/win32/win32_text.h"

#include <array>
#include <climits>
#include <memory>

namespace selvatro::platform::win32 {

namespace {

// The Win32 conversions count in int; a text past that is no text of ours.
int Length(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int count = MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), nullptr, 0);
    if (count <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), wide.data(), count);
    return wide;
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
    return ToWide(CP_UTF8, 0, utf8);
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), Length(wide.size()), nullptr, 0, nullptr, nullptr);
    if (count <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), Length(wide.size()), utf8.data(), count, nullptr, nullptr);
    return utf8;
}

std::optional<std::string> ToAnsi(std::string_view utf8) {
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) {
        return std::string();
    }
    // WC_NO_BEST_FIT_CHARS: "é" may stand for itself, but "ő" must not quietly become "o".
    BOOL lost = FALSE;
    const int count =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), Length(wide.size()), nullptr, 0, nullptr, &lost);
    if (count <= 0 || lost) {
        return std::nullopt;
    }
    std::string ansi(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), Length(wide.size()), ansi.data(), count, nullptr,
                        &lost);
    if (lost) {
        return std::nullopt;
    }
    return ansi;
}

std::string FromAnsi(std::string_view ansi) {
    return Narrow(ToWide(CP_ACP, 0, ansi));
}

namespace {

// The system's text for `error`, its inserts filled from `arguments` or left as they are when there are none.
std::string FormatSystemMessage(DWORD error, const DWORD_PTR* arguments) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
    flags |= arguments != nullptr ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t* buffer = nullptr;
    const DWORD count = FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                       reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    const std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(buffer, &LocalFree);
    std::wstring text = count > 0 && buffer != nullptr ? std::wstring(buffer, count) : std::wstring();
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(error);
    }
    return Narrow(text);
}

}  // namespace

std::string SystemMessage(DWORD error) {
    return FormatSystemMessage(error, nullptr);
}

std::string SystemMessage(DWORD error, const std::string& insert) {
    // A text may name its inserts up to %99, each read from the array: every one of them is the same text, so that
    // no text of the system's reads past the array's end.
    const std::wstring wide = Widen(insert);
    std::array<DWORD_PTR, 99> arguments{};
    arguments.fill(reinterpret_cast<DWORD_PTR>(wide.c_str()));
    return FormatSystemMessage(error, arguments.data());
}

}  // namespace selvatro::platform::win32
