// The programs that Windows starts at logon by itself, taken over and given back on the real registry and real
// shortcuts, under Wine in the test command: the exact StartupApproved values written and removed, the user's own
// switches left alone, and the shortcuts made for Run values. Each test has a key of its own that stands for
// HKEY_CURRENT_USER and folders of its own, so that nothing of the prefix's user is touched.

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_text.h"

namespace fs = std::filesystem;
namespace w = selvatro::platform::win32;
using selvatro::platform::FileError;
using selvatro::platform::LogonEntry;
using State = LogonEntry::State;
using Bytes = std::vector<BYTE>;

namespace {

constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kApprovedFolder[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";
constexpr wchar_t kApprovedRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t kMarks[] = L"Software\\Selvatro\\Taken over";

const Bytes kOn = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

struct Link {
    std::wstring program;
    std::wstring arguments;
    friend bool operator==(const Link&, const Link&) = default;
};

void WriteLink(const fs::path& file, const std::wstring& program) {
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> persist;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
    ASSERT_HRESULT_SUCCEEDED(link->SetPath(program.c_str()));
    ASSERT_HRESULT_SUCCEEDED(link.As(&persist));
    ASSERT_HRESULT_SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

std::optional<Link> ReadLink(const fs::path& file) {
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&persist)) || FAILED(persist->Load(file.c_str(), STGM_READ))) {
        return std::nullopt;
    }
    std::array<wchar_t, MAX_PATH + 1> program{};
    std::array<wchar_t, MAX_PATH + 1> arguments{};
    link->GetPath(program.data(), MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetArguments(arguments.data(), MAX_PATH);
    return Link{program.data(), arguments.data()};
}

class Win32LogonEntries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        const std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
        keyPath_ = L"Software\\Selvatro tests\\logon entries " + unique;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user_,
                                  nullptr),
                  ERROR_SUCCESS);
        std::array<wchar_t, MAX_PATH + 1> temp{};
        GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
        root_ = fs::path(temp.data()) / (L"selvatro logon " + unique);
        fs::create_directories(root_ / "Startup");
        fs::create_directories(root_ / "Some Dir");
        std::ofstream(root_ / "Some Dir" / "tray.exe") << "a program";
        startup_ = root_ / "Startup";
        entriesFolder_ = root_ / "AppData" / "Selvatro" / "Logon entries";
        entries_.emplace(user_, w::Narrow(startup_.wstring()), w::Narrow(entriesFolder_.wstring()));
    }
    void TearDown() override {
        entries_.reset();
        RegCloseKey(user_);
        RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        CoUninitialize();
    }

    void SetRun(const std::wstring& name, const std::wstring& command, DWORD type = REG_SZ) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(user_, kRun, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
        RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void SetBinary(const wchar_t* path, const std::wstring& name, const Bytes& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(user_, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
        RegSetValueExW(key, name.c_str(), 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
        RegCloseKey(key);
    }
    void Delete(const wchar_t* path, const std::wstring& name) { RegDeleteKeyValueW(user_, path, name.c_str()); }
    // The value's bytes and type; nothing when there is none.
    std::optional<Bytes> Value(const wchar_t* path, const std::wstring& name, DWORD* type = nullptr) {
        std::array<BYTE, 256> bytes{};
        DWORD size = static_cast<DWORD>(bytes.size());
        if (RegGetValueW(user_, path, name.c_str(), RRF_RT_ANY, type, bytes.data(), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return Bytes(bytes.begin(), bytes.begin() + size);
    }
    std::string At(const fs::path& path) const { return w::Narrow(path.wstring()); }

    std::wstring keyPath_;
    HKEY user_ = nullptr;
    fs::path root_;
    fs::path startup_;
    fs::path entriesFolder_;
    std::optional<w::Win32LogonEntries> entries_;
};

std::uint64_t Time(FILETIME time) {
    return (std::uint64_t{time.dwHighDateTime} << 32U) | time.dwLowDateTime;
}

// Switched off as Task Manager switches: the first byte, three zeros, and a FILETIME between `from` and `to`.
void ExpectOff(const std::optional<Bytes>& value, BYTE first, std::uint64_t from, std::uint64_t to) {
    ASSERT_TRUE(value);
    ASSERT_EQ(value->size(), 12u);
    EXPECT_EQ((*value)[0], first);
    EXPECT_EQ(Bytes(value->begin() + 1, value->begin() + 4), Bytes(3, 0));
    std::uint64_t time = 0;
    for (int i = 11; i >= 4; --i) {
        time = (time << 8U) | (*value)[static_cast<std::size_t>(i)];
    }
    EXPECT_GE(time, from);
    EXPECT_LE(time, to);
}

std::uint64_t Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return Time(now);
}

// A Startup shortcut that Windows never switched: Selvatro's switch is Task Manager's, and giving it back leaves
// no value at all, as before; a Run value that Task Manager had switched on gets back its very bytes, and one of the
// 6 kind gets 7.
TEST_F(Win32LogonEntries, TakenOverAndGivenBackWithTheExactValues) {
    WriteLink(startup_ / "Notes.lnk", L"C:\\Tools\\notes.exe");
    SetRun(L"Tray", L"\"C:\\Tools\\tray.exe\" --min");
    SetRun(L"Sync", L"C:\\Tools\\sync.exe");
    SetBinary(kApprovedRun, L"Tray", kOn);
    const Bytes onSix = {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    SetBinary(kApprovedRun, L"Sync", onSix);

    const auto notes = entries_->entryOf(At(startup_ / "Notes.lnk"));
    ASSERT_TRUE(notes);
    EXPECT_EQ(*notes, (LogonEntry{"StartupFolder\\Notes.lnk", "Notes", State::On}));
    const std::uint64_t from = Now();
    entries_->takeOver(*notes);
    entries_->takeOver(LogonEntry{"Run\\Tray", "Tray", State::On});
    entries_->takeOver(LogonEntry{"Run\\Sync", "Sync", State::On});
    const std::uint64_t to = Now();
    ExpectOff(Value(kApprovedFolder, L"Notes.lnk"), 3, from, to);
    ExpectOff(Value(kApprovedRun, L"Tray"), 3, from, to);
    ExpectOff(Value(kApprovedRun, L"Sync"), 7, from, to);
    DWORD type = 0;
    Value(kApprovedRun, L"Tray", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Notes.lnk"))->state, State::OffBySelvatro);
    const std::vector<LogonEntry> taken = entries_->takenOver();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0], (LogonEntry{"Run\\Sync", "Sync", State::OffBySelvatro}));
    EXPECT_EQ(taken[1], (LogonEntry{"Run\\Tray", "Tray", State::OffBySelvatro}));
    EXPECT_EQ(taken[2], (LogonEntry{"StartupFolder\\Notes.lnk", "Notes", State::OffBySelvatro}));

    for (const LogonEntry& entry : taken) {
        entries_->giveBack(entry);
    }
    EXPECT_EQ(Value(kApprovedFolder, L"Notes.lnk"), std::nullopt);
    EXPECT_EQ(Value(kApprovedRun, L"Tray"), kOn);
    EXPECT_EQ(Value(kApprovedRun, L"Sync"), onSix);
    EXPECT_EQ(Value(kMarks, L"Run\\Tray"), std::nullopt);
    EXPECT_TRUE(entries_->takenOver().empty());
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Notes.lnk"))->state, State::On);
    // The entries themselves were never written.
    EXPECT_EQ(ReadLink(startup_ / "Notes.lnk"), (Link{L"C:\\Tools\\notes.exe", L""}));
    EXPECT_TRUE(fs::exists(startup_ / "Notes.lnk"));
}

// What the user did since in Task Manager, or to the entry itself, is the user's: never undone.
TEST_F(Win32LogonEntries, WhatTheUserChangedSinceIsLeftAlone) {
    for (const wchar_t* name : {L"Back", L"Again", L"Removed"}) {
        SetRun(name, std::wstring(L"C:\\Tools\\") + name + L".exe");
        entries_->takeOver(LogonEntry{"Run\\" + w::Narrow(name), w::Narrow(name), State::On});
    }
    WriteLink(startup_ / "Gone.lnk", L"C:\\Tools\\gone.exe");
    entries_->takeOver(*entries_->entryOf(At(startup_ / "Gone.lnk")));
    ASSERT_EQ(entries_->takenOver().size(), 4u);

    SetBinary(kApprovedRun, L"Back", kOn);  // switched on again
    const Bytes userOff = {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 1};
    SetBinary(kApprovedRun, L"Again", userOff);  // on, then off again by the user
    Delete(kRun, L"Removed");
    const std::optional<Bytes> removedSwitch = Value(kApprovedRun, L"Removed");
    fs::remove(startup_ / "Gone.lnk");
    const std::optional<Bytes> goneSwitch = Value(kApprovedFolder, L"Gone.lnk");

    EXPECT_TRUE(entries_->takenOver().empty());
    EXPECT_EQ(Value(kMarks, L"Run\\Back"), std::nullopt);                          // it can never match again
    EXPECT_TRUE(Value(kMarks, L"Run\\Removed"));                                   // it may, should the entry come back
    EXPECT_EQ(entries_->entryOf(At(entriesFolder_ / "Again.lnk")), std::nullopt);  // no shortcut made yet
    entries_->places();
    EXPECT_EQ(entries_->entryOf(At(entriesFolder_ / "Again.lnk")), (LogonEntry{"Run\\Again", "Again", State::Off}));
    for (const char* id : {"Run\\Back", "Run\\Again", "Run\\Removed", "StartupFolder\\Gone.lnk"}) {
        entries_->giveBack(LogonEntry{id, id, State::OffBySelvatro});
    }
    EXPECT_EQ(Value(kApprovedRun, L"Back"), kOn);
    EXPECT_EQ(Value(kApprovedRun, L"Again"), userOff);
    EXPECT_EQ(Value(kApprovedRun, L"Removed"), removedSwitch);
    EXPECT_EQ(Value(kApprovedFolder, L"Gone.lnk"), goneSwitch);
    EXPECT_TRUE(removedSwitch && goneSwitch);
    EXPECT_EQ(Value(kMarks, L"Run\\Again"), std::nullopt);  // the marks that tell nothing any more are gone
}

// Each Run value gets a shortcut in Selvatro's folder, its command split as the system runs it; Selvatro's own
// gets none, and a shortcut whose value went goes too. The Startup folder offers its shortcuts but Selvatro's.
TEST_F(Win32LogonEntries, RunValuesGetShortcutsAndSelvatroIsNeverAnEntry) {
    const std::wstring some = (root_ / "Some Dir").wstring();
    SetRun(L"Quoted", L"\"" + some + L"\\tray.exe\"   --min \"a b\"");
    SetRun(L"Unquoted", some + L"\\tray.exe -x");
    SetRun(L"Bare", L"notepad /a");
    SetRun(L"Expanded", L"%SystemRoot%\\notepad.exe", REG_EXPAND_SZ);
    SetRun(L"Odd: name?", L"C:\\Gone\\odd.exe --z");
    SetRun(L"Self", L"\"C:\\Program Files\\Selvatro\\SELVATRO.EXE\"");
    WriteLink(startup_ / "Notes.lnk", L"C:\\Tools\\notes.exe");
    WriteLink(startup_ / "Selvatro.lnk", L"C:\\Tools\\selvatro (1).exe");  // its own, renamed
    WriteLink(startup_ / "Other.lnk", L"D:\\Apps\\Selvatro.exe");
    fs::create_directories(entriesFolder_);
    WriteLink(entriesFolder_ / "Stale.lnk", L"C:\\Tools\\stale.exe");
    std::ofstream(entriesFolder_ / "notes.txt") << "the user's";

    EXPECT_EQ(entries_->places(), (std::vector<std::string>{At(startup_), At(entriesFolder_)}));
    const std::wstring system = [] {
        std::array<wchar_t, MAX_PATH + 1> folder{};
        GetWindowsDirectoryW(folder.data(), MAX_PATH);
        return std::wstring(folder.data());
    }();
    const struct {
        const wchar_t* file;
        Link link;
    } made[] = {
        {L"Quoted.lnk", {some + L"\\tray.exe", L"--min \"a b\""}},
        {L"Unquoted.lnk", {some + L"\\tray.exe", L"-x"}},
        {L"Expanded.lnk", {system + L"\\notepad.exe", L""}},
        {L"Odd_ name_.lnk", {L"C:\\Gone\\odd.exe", L"--z"}},
    };
    for (const auto& m : made) {
        EXPECT_EQ(ReadLink(entriesFolder_ / m.file), m.link) << w::Narrow(m.file);
    }
    const std::optional<Link> bare = ReadLink(entriesFolder_ / "Bare.lnk");
    ASSERT_TRUE(bare);
    EXPECT_EQ(CompareStringOrdinal(bare->program.c_str() + bare->program.size() - 12, 12, L"\\notepad.exe", 12, TRUE),
              CSTR_EQUAL)
        << w::Narrow(bare->program);
    EXPECT_EQ(bare->arguments, L"/a");
    EXPECT_FALSE(fs::exists(entriesFolder_ / "Self.lnk"));
    EXPECT_FALSE(fs::exists(entriesFolder_ / "Stale.lnk"));
    EXPECT_TRUE(fs::exists(entriesFolder_ / "notes.txt"));

    EXPECT_EQ(entries_->entryOf(At(entriesFolder_ / "Odd_ name_.lnk")),
              (LogonEntry{"Run\\Odd: name?", "Odd: name?", State::On}));
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Notes.lnk")),
              (LogonEntry{"StartupFolder\\Notes.lnk", "Notes", State::On}));
    // The same folder however it is written: another case, a detour.
    std::wstring upper = (startup_ / "NOTES.LNK").wstring();
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_EQ(entries_->entryOf(w::Narrow(upper)), (LogonEntry{"StartupFolder\\Notes.lnk", "Notes", State::On}));
    EXPECT_TRUE(entries_->entryOf(At(startup_ / ".." / "Startup" / "Notes.lnk")));
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Selvatro.lnk")), std::nullopt);
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Other.lnk")), std::nullopt);
    EXPECT_EQ(entries_->entryOf(At(entriesFolder_ / "notes.txt")), std::nullopt);
    EXPECT_EQ(entries_->entryOf(At(startup_ / "Missing.lnk")), std::nullopt);
    fs::copy_file(startup_ / "Notes.lnk", root_ / "Notes.lnk");
    EXPECT_EQ(entries_->entryOf(At(root_ / "Notes.lnk")), std::nullopt);  // a shortcut elsewhere

    Delete(kRun, L"Bare");
    entries_->places();
    EXPECT_FALSE(fs::exists(entriesFolder_ / "Bare.lnk"));
    EXPECT_TRUE(fs::exists(entriesFolder_ / "Quoted.lnk"));
}

// A switch that cannot be written says why, and leaves neither the switch nor a mark behind. Nothing lasting can be
// made under a volatile key: Explorer's key made one, StartupApproved cannot be made in it, after the mark was.
TEST_F(Win32LogonEntries, ASwitchThatCannotBeWrittenThrowsAndChangesNothing) {
    SetRun(L"Tray", L"C:\\Tools\\tray.exe");
    HKEY volatileKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(user_, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(volatileKey);
    try {
        entries_->takeOver(LogonEntry{"Run\\Tray", "Tray", State::On});
        ADD_FAILURE() << "a switch was written under a volatile key";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("StartupApproved\\Run\\Tray: "), std::string::npos) << error.what();
    }
    EXPECT_EQ(Value(kApprovedRun, L"Tray"), std::nullopt);
    EXPECT_EQ(Value(kMarks, L"Run\\Tray"), std::nullopt);
    EXPECT_THROW(entries_->takeOver(LogonEntry{"Run\\Missing", "Missing", State::On}), FileError);
}

}  // namespace
