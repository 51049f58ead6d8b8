// The Win32 services on the real system, under Wine in the test command: the list file's bytes and where it
// lives, the program start, the Startup link, the browser lookup and the claim of one copy per list.

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/file_rules.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_single_copy.h"
#include "platform/win32/win32_text.h"

namespace fs = std::filesystem;
namespace w = selvatro::platform::win32;
using selvatro::platform::FileError;
using selvatro::platform::ProgramMissing;
using selvatro::platform::StartFailed;

namespace {

// Started as a child of the program-start tests, this program writes its command line, its current folder and the
// window state it was asked for into the file that this variable names, and ends.
constexpr wchar_t kChildMark[] = L"SELVATRO_TEST_CHILD_RECORD";

std::string Bytes(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::ifstream(file, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// The text of a file that was read whole; nothing for one absent or unreadable.
std::optional<std::string> Text(const selvatro::platform::FileText& file) {
    return file.status == selvatro::platform::FileText::Status::Read ? std::optional<std::string>(file.text)
                                                                     : std::nullopt;
}

class Win32Services : public ::testing::Test {
protected:
    void SetUp() override {
        std::array<wchar_t, MAX_PATH + 1> temp{};
        GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
        root_ = fs::path(temp.data()) / (L"selvatro test " + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        // A program that a test started may still be ending in one of these folders, which cannot go before it has.
        const ULONGLONG deadline = GetTickCount64() + 30000;
        std::error_code error;
        while (fs::remove_all(root_, error) == static_cast<std::uintmax_t>(-1) && GetTickCount64() < deadline) {
            Sleep(100);
        }
    }
    std::string At(const fs::path& name) const { return w::Narrow((root_ / name).wstring()); }

    fs::path root_;
    w::Win32Files files_;
};

TEST_F(Win32Services, TheListIsWrittenInTheAnsiCodePageByteForByte) {
    ASSERT_EQ(GetACP(), 1252u) << "the expected bytes below are Windows-1252";
    files_.replaceText(At("selvatro.lst"), "C:\\Jeux\\Caf\xC3\xA9.exe\r\n5\r\n\r\n");
    EXPECT_EQ(Bytes(root_ / "selvatro.lst"), "C:\\Jeux\\Caf\xE9.exe\r\n5\r\n\r\n");
    EXPECT_EQ(Text(files_.readText(At("selvatro.lst"))), "C:\\Jeux\\Caf\xC3\xA9.exe\r\n5\r\n\r\n");
}

TEST_F(Win32Services, AListTheCodePageCannotHoldIsWrittenInUtf8WithItsMark) {
    const std::string text = "C:\\\xE6\x97\xA5\xE6\x9C\xAC\\W\xC5\x91.exe\r\n3\r\n";  // CJK and o with double acute
    files_.replaceText(At("selvatro.lst"), text);
    EXPECT_EQ(Bytes(root_ / "selvatro.lst"), "\xEF\xBB\xBF" + text);
    EXPECT_EQ(Text(files_.readText(At("selvatro.lst"))), text);
}

TEST_F(Win32Services, AUtf16ListIsReadAsText) {
    Write(root_ / "unicode.lst", std::string("\xFF\xFE"
                                             "C\0:\0\\\0\xE9\0\r\0\n\0",
                                             14));
    EXPECT_EQ(Text(files_.readText(At("unicode.lst"))), "C:\\\xC3\xA9\r\n");
}

// The ways a list reaches Windows users: each is read as its text and, once changed, written back the way it came
// (a list that was in UTF-8 stays in UTF-8, with its mark or without, so that Notepad shows it the same).
TEST_F(Win32Services, AListIsReadInTheEncodingItCameInAndWrittenBackTheSameWay) {
    ASSERT_EQ(GetACP(), 1252u) << "the ANSI bytes below are Windows-1252";
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
        std::string savedAs;  // after a change of the delay from 5 to 6
    };
    const std::string utf8 = "\"C:\\Caf\xC3\xA9.exe\",\"5\"\r\n";
    const Case cases[] = {
        {"ANSI", "\"C:\\Caf\xE9.exe\",\"5\"\r\n", utf8, "\"C:\\Caf\xE9.exe\",\"6\"\r\n"},
        {"UTF-8 without its mark", utf8, utf8, "\"C:\\Caf\xC3\xA9.exe\",\"6\"\r\n"},
        {"UTF-8 with its mark", std::string("\xEF\xBB\xBF").append(utf8), utf8,
         "\xEF\xBB\xBF\"C:\\Caf\xC3\xA9.exe\",\"6\"\r\n"},
        {"UTF-16 without its mark", std::string("\"\0C\0:\0\\\0\xE9\0\"\0\r\0\n\0", 16), "\"C:\\\xC3\xA9\"\r\n",
         "\"C:\\\xE9\",\"6\"\r\n"},
    };
    for (const Case& c : cases) {
        Write(root_ / "selvatro.lst", c.bytes);
        w::Win32Files files;
        EXPECT_EQ(Text(files.readText(At("selvatro.lst"))), c.text) << c.what;
        std::string changed = c.text;
        const std::size_t five = changed.find("\"5\"");
        changed = five == std::string::npos ? changed.substr(0, changed.size() - 2) + ",\"6\"\r\n"
                                            : changed.replace(five + 1, 1, "6");
        files.replaceText(At("selvatro.lst"), changed);
        EXPECT_EQ(Bytes(root_ / "selvatro.lst"), c.savedAs) << c.what;
    }
}

// A list hidden by the user (or marked a system file by a sync tool) is still the list: read, and written back
// with its attributes. One that another program holds open without sharing cannot be read, and says why.
TEST_F(Win32Services, AHiddenListIsReadAndStaysHiddenALockedOneIsUnreadable) {
    const std::wstring list = (root_ / "selvatro.lst").wstring();
    Write(list, "\"C:\\a.exe\",\"5\"\r\n");
    SetFileAttributesW(list.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(files_.ordinaryFileExists(At("selvatro.lst")));  // the rows' existence test keeps its rule
    EXPECT_EQ(Text(files_.readText(At("selvatro.lst"))), "\"C:\\a.exe\",\"5\"\r\n");
    files_.replaceText(At("selvatro.lst"), "\"C:\\b.exe\",\"7\"\r\n");
    EXPECT_EQ(Bytes(list), "\"C:\\b.exe\",\"7\"\r\n");
    EXPECT_EQ(GetFileAttributesW(list.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    const HANDLE lock = CreateFileW(list.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const selvatro::platform::FileText locked = files_.readText(At("selvatro.lst"));
    CloseHandle(lock);
    EXPECT_EQ(locked.status, selvatro::platform::FileText::Status::Unreadable);
    EXPECT_FALSE(locked.reason.empty());
    EXPECT_EQ(locked.source, At("selvatro.lst"));
}

TEST_F(Win32Services, AHugeFileIsReadOnlyAsFarAsAListCanReach) {
    Write(root_ / "selvatro.lst", std::string(3 * selvatro::platform::kTextReadLimit, 'x'));
    EXPECT_EQ(files_.readText(At("selvatro.lst")).text.size(), selvatro::platform::kTextReadLimit);
}

TEST_F(Win32Services, AReplaceLeavesOneWholeFileAndNoTemporary) {
    Write(root_ / "selvatro.lst", "old\r\n");
    files_.replaceText(At("selvatro.lst"), "new\r\n");
    files_.replaceText(At("selvatro.lst"), "new\r\n");  // the same bytes again: nothing to do
    EXPECT_EQ(Bytes(root_ / "selvatro.lst"), "new\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
}

TEST_F(Win32Services, ASaveRemovesTheTemporariesThatKilledSavesLeft) {
    Write(root_ / ".selvatro.lst.0badf00d.tmp", "killed\r\n");
    Write(root_ / ".selvatro.lst.12345678.tmp", "in flight\r\n");
    Write(root_ / ".selvatro.lst.notours.tmp", "the user's\r\n");
    for (const wchar_t* name : {L".selvatro.lst.0badf00d.tmp", L".selvatro.lst.notours.tmp"}) {
        const HANDLE file =
            CreateFileW((root_ / name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const FILETIME old{0, 30000000};  // long ago
        SetFileTime(file, nullptr, nullptr, &old);
        CloseHandle(file);
    }
    files_.replaceText(At("selvatro.lst"), "new\r\n");
    EXPECT_FALSE(fs::exists(root_ / ".selvatro.lst.0badf00d.tmp"));
    EXPECT_TRUE(fs::exists(root_ / ".selvatro.lst.12345678.tmp"));
    EXPECT_TRUE(fs::exists(root_ / ".selvatro.lst.notours.tmp"));
}

TEST_F(Win32Services, WhatIsNotAnOrdinaryFileIsNeverReadNorReplaced) {
    fs::create_directory(root_ / "folder.lst");
    EXPECT_THROW(files_.replaceText(At("folder.lst"), "x\r\n"), FileError);
    EXPECT_TRUE(fs::is_directory(root_ / "folder.lst"));
    EXPECT_EQ(Text(files_.readText(At("folder.lst"))), std::nullopt);
    EXPECT_EQ(Text(files_.readText("\\\\.\\NUL")), std::nullopt);
    EXPECT_THROW(files_.replaceText("\\\\.\\NUL", "x\r\n"), FileError);
}

TEST_F(Win32Services, OnlyOrdinaryFilesExistForTheRows) {
    Write(root_ / "plain.exe", "");
    Write(root_ / "hidden.exe", "");
    SetFileAttributesW((root_ / "hidden.exe").c_str(), FILE_ATTRIBUTE_HIDDEN);
    fs::create_directory(root_ / "folder.exe");
    EXPECT_TRUE(files_.ordinaryFileExists(At("plain.exe")));
    EXPECT_FALSE(files_.ordinaryFileExists(At("hidden.exe")));
    EXPECT_FALSE(files_.ordinaryFileExists(At("folder.exe")));
    EXPECT_FALSE(files_.ordinaryFileExists(At("*.exe")));
    EXPECT_FALSE(files_.ordinaryFileExists(At("plain.ex?")));
    // "\\?\" opens a long path: no wildcard.
    EXPECT_TRUE(files_.ordinaryFileExists("\\\\?\\" + At("plain.exe")));
    EXPECT_FALSE(files_.ordinaryFileExists("\\\\?\\" + At("plain.ex?")));
    EXPECT_FALSE(files_.ordinaryFileExists(At("missing.exe")));
}

// A folder that cannot be written (here: one that does not exist; Wine running as root ignores access rights)
// sends the list to the per-user folder, where it is then read from; the test of the folder leaves nothing in it.
TEST_F(Win32Services, TheListGoesToThePerUserFolderWhenTheProgramsFolderCannotBeWritten) {
    const std::string program = At("Program Files\\Selvatro");
    const std::string own = At("AppData\\Selvatro");
    using selvatro::platform::ListPlace;
    using selvatro::platform::SettleListPlace;
    EXPECT_FALSE(files_.folderWritable(program));
    const ListPlace first = SettleListPlace(files_, program, own, "selvatro.lst");
    EXPECT_EQ(first, (ListPlace{program + "\\selvatro.lst", own + "\\selvatro.lst", own}));
    files_.makeFolder(first.userFolder);
    files_.makeFolder(first.userFolder);  // already there: no error
    files_.replaceText(first.write, "C:\\a.exe\r\n1\r\n", first.read);
    EXPECT_EQ(Bytes(root_ / "AppData" / "Selvatro" / "selvatro.lst"), "C:\\a.exe\r\n1\r\n");
    EXPECT_EQ(SettleListPlace(files_, program, own, "selvatro.lst").read, own + "\\selvatro.lst");
    EXPECT_TRUE(files_.exists(own + "\\SELVATRO.LST"));  // names compare as the file system compares them

    fs::create_directories(root_ / "Program Files" / "Selvatro");  // now writable: the list lives beside it
    EXPECT_TRUE(files_.folderWritable(program));
    EXPECT_EQ(SettleListPlace(files_, program, own, "selvatro.lst"),
              (ListPlace{program + "\\selvatro.lst", program + "\\selvatro.lst", ""}));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "Program Files" / "Selvatro"), fs::directory_iterator()), 0);
    Write(root_ / "file", "");
    EXPECT_THROW(files_.makeFolder(At("file")), FileError);
}

// The list shipped beside the program in UTF-8, first saved to the user's own folder, stays in UTF-8 there.
TEST_F(Win32Services, TheUsersFirstCopyOfTheListKeepsItsEncoding) {
    const std::string utf8 = "\"C:\\Caf\xC3\xA9.exe\",\"5\"\r\n";
    Write(root_ / "shipped.lst", utf8);
    EXPECT_EQ(Text(files_.readText(At("shipped.lst"))), utf8);
    files_.replaceText(At("own.lst"), utf8, At("shipped.lst"));
    EXPECT_EQ(Bytes(root_ / "own.lst"), utf8);
    files_.replaceText(At("other.lst"), utf8);  // never read: the code page
    EXPECT_EQ(Bytes(root_ / "other.lst"), "\"C:\\Caf\xE9.exe\",\"5\"\r\n");
}

// What a copy of this program, started by a test, was given: its command line, its current folder and the window
// state it was asked for (-1 when none); all empty when no copy was started.
struct Child {
    std::string commandLine;
    std::string folder;
    int show = -1;
};

// Runs `start`, which starts a copy of this program, and returns what the copy was given. Waits up to `waitMs` for
// its whole record (three lines), which the copy writes under another name and then renames.
Child StartedChild(const std::function<void()>& start, int waitMs = 30000) {
    const fs::path record = fs::temp_directory_path() / (L"selvatro child " + std::to_wstring(GetTickCount64()));
    SetEnvironmentVariableW(kChildMark, record.c_str());
    start();
    SetEnvironmentVariableW(kChildMark, nullptr);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitMs);
    std::string bytes = Bytes(record);
    while (std::count(bytes.begin(), bytes.end(), '\n') < 3 && GetTickCount64() < deadline) {
        Sleep(50);
        bytes = Bytes(record);
    }
    std::istringstream lines(bytes);
    fs::remove(record);
    Child child;
    std::string show;
    std::getline(lines, child.commandLine);
    std::getline(lines, child.folder);
    if (std::getline(lines, show)) {
        child.show = std::stoi(show);
    }
    return child;
}

// The command line that the copy was given.
std::string RunChild(const std::function<void()>& start, int waitMs = 30000) {
    return StartedChild(start, waitMs).commandLine;
}

fs::path CopyOfThisProgram(const fs::path& copy) {
    std::array<wchar_t, MAX_PATH + 1> self{};
    GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    fs::create_directories(copy.parent_path());
    fs::copy_file(self.data(), copy);
    return copy;
}

// The parser's guess would run "Program.exe" for an unquoted "...\Program Files\child.exe".
TEST_F(Win32Services, AProgramWithBlanksInItsPathIsStartedAndNotItsPrefix) {
    CopyOfThisProgram(root_ / "Program.exe");
    CopyOfThisProgram(root_ / "Program Files" / "child.exe");
    const std::string started =
        RunChild([this] { EXPECT_GT(w::Win32Programs().start(At("Program Files\\child.exe")), 0.0); });
    EXPECT_EQ(started, "\"" + At("Program Files\\child.exe") + "\"");
}

TEST_F(Win32Services, AFolderOrAMissingFileIsNoProgram) {
    w::Win32Programs programs;
    try {
        programs.start(w::Narrow(root_.wstring()));
        ADD_FAILURE() << "a folder was started";
    } catch (const StartFailed& failure) {
        EXPECT_STRNE(failure.what(), "");
    }
    EXPECT_THROW(programs.start(At("missing.exe")), StartFailed);
}

// The system's reason names the program where its text has a place for it, never a bare "%1".
TEST_F(Win32Services, AFileThatIsNoProgramIsNamedInTheReason) {
    Write(root_ / "not a program.exe", "plain text, no program\r\n");
    const std::string path = At("not a program.exe");
    try {
        w::Win32Programs().start(path);
        ADD_FAILURE() << "a text file was started";
    } catch (const StartFailed& failure) {
        const std::string reason = failure.what();
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_EQ(reason.find("%1"), std::string::npos) << reason;
    }
    const std::string accented = "C:\\Jeux\\Caf\xC3\xA9.exe";
    EXPECT_NE(w::SystemMessage(ERROR_BAD_EXE_FORMAT, accented).find(accented), std::string::npos);
    EXPECT_NE(w::SystemMessage(ERROR_BAD_EXE_FORMAT).find("%1"), std::string::npos);  // inserts left as they are
    EXPECT_EQ(w::SystemMessage(ERROR_FILE_NOT_FOUND, accented), w::SystemMessage(ERROR_FILE_NOT_FOUND));
}

// A shell link made as Explorer's "New shortcut" makes one: a target file, or else a shell item (`item`) that has
// no path.
void MakeLink(const fs::path& file, const std::wstring& target, const std::wstring& arguments,
              const std::wstring& folder, int show, PCIDLIST_ABSOLUTE item = nullptr) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        Microsoft::WRL::ComPtr<IShellLinkW> link;
        Microsoft::WRL::ComPtr<IPersistFile> persist;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
        ASSERT_HRESULT_SUCCEEDED(item != nullptr ? link->SetIDList(item) : link->SetPath(target.c_str()));
        ASSERT_HRESULT_SUCCEEDED(link->SetArguments(arguments.c_str()));
        ASSERT_HRESULT_SUCCEEDED(link->SetWorkingDirectory(folder.c_str()));
        ASSERT_HRESULT_SUCCEEDED(link->SetShowCmd(show));
        ASSERT_HRESULT_SUCCEEDED(link.As(&persist));
        ASSERT_HRESULT_SUCCEEDED(persist->Save(file.c_str(), TRUE));
    }
    CoUninitialize();
}

// Shortcuts as users keep them, good and bad: each starts its target with the link's arguments, working folder and
// window state, or fails as a missing program or a start failure, and names its target as far as it can be read.
TEST_F(Win32Services, AShortcutStartsItsTargetAsExplorerDoesOrSaysWhyNot) {
    const fs::path child = CopyOfThisProgram(root_ / "Program Files" / "child.exe");
    const std::string childPath = w::Narrow(child.wstring());
    fs::create_directories(root_ / "work folder");
    const std::string work = At("work folder");
    // Environment strings in a link's target and folder stand for this user's values.
    const std::wstring drive = root_.root_name().wstring();
    SetEnvironmentVariableW(L"SELVATRO_TEST_PLACE", root_.relative_path().c_str());
    SetEnvironmentVariableW(L"SELVATRO_TEST_WORK", (root_ / "work folder").c_str());
    Write(root_ / "start child.cmd", "@\"" + childPath + "\" %*\r\n");
    CopyOfThisProgram(root_ / "removed.exe");
    Write(root_ / "damaged.lnk", std::string("L\0\0\0\x01\x14\x02\0garbage", 15));
    Write(root_ / "site.url", "[InternetShortcut]\r\nURL=https://example.com/\r\n");
    // A document whose kind opens in the copy: the shell finds the program, as for any document.
    Write(root_ / "notes.selvatrotest", "a document\r\n");
    const std::wstring opener = L"\"" + child.wstring() + L"\" open \"%1\"";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, L".selvatrotest", nullptr, REG_SZ, L"SelvatroTest.Document",
                              sizeof L"SelvatroTest.Document"),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, L"SelvatroTest.Document\\shell\\open\\command", nullptr, REG_SZ,
                              opener.c_str(), static_cast<DWORD>((opener.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    PIDLIST_ABSOLUTE computer = nullptr;
    ASSERT_HRESULT_SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer));

    enum class Outcome { Starts, Missing, Fails };
    constexpr int kNotAsked = -2;  // no window state to check: the shell's programs stand between
    struct Case {
        const char* what;
        const wchar_t* name;  // in the test's folder; made as a link when `target` or `item` says what it starts
        std::wstring target;
        std::wstring arguments;
        std::wstring folder;
        int show;
        PCIDLIST_ABSOLUTE item;
        Outcome outcome;
        std::string commandLine;  // what the started copy was given, for a start: its whole command line, or how it
                                  // ends when a batch file or a document's kind started it
        std::string startedIn;
        int startedShow;
        std::optional<std::string> shortcutTarget;
    };
    const Case cases[] = {
        {"a program with arguments and a working folder", L"child.lnk", child.wstring(), L"first \"second one\"",
         (root_ / "work folder").wstring(), SW_SHOWNORMAL, nullptr, Outcome::Starts,
         "\"" + childPath + "\" first \"second one\"", work, SW_SHOWNORMAL, childPath},
        {"minimised, its folder an environment string, named in capitals", L"Minimised.LNK", child.wstring(), L"",
         L"%SELVATRO_TEST_WORK%", SW_SHOWMINNOACTIVE, nullptr, Outcome::Starts, "\"" + childPath + "\"", work,
         SW_SHOWMINNOACTIVE, childPath},
        {"maximised, its target through an environment string", L"maximised.lnk",
         drive + L"\\%SELVATRO_TEST_PLACE%\\Program Files\\child.exe", L"-x", L"", SW_SHOWMAXIMIZED, nullptr,
         Outcome::Starts, "\"" + childPath + "\" -x", "", SW_SHOWMAXIMIZED, childPath},
        {"a batch file, through the shell", L"batch.lnk", (root_ / "start child.cmd").wstring(), L"via \"batch file\"",
         (root_ / "work folder").wstring(), SW_SHOWNORMAL, nullptr, Outcome::Starts, " via \"batch file\"", work,
         kNotAsked, At("start child.cmd")},
        {"a document, opened by its kind's program", L"document.lnk", (root_ / "notes.selvatrotest").wstring(), L"",
         (root_ / "work folder").wstring(), SW_SHOWNORMAL, nullptr, Outcome::Starts,
         " open \"" + At("notes.selvatrotest") + "\"", work, kNotAsked, At("notes.selvatrotest")},
        {"a target removed", L"removed.lnk", (root_ / "removed.exe").wstring(), L"", L"", SW_SHOWNORMAL, nullptr,
         Outcome::Missing, "", "", kNotAsked, At("removed.exe")},
        {"a damaged link", L"damaged.lnk", L"", L"", L"", SW_SHOWNORMAL, nullptr, Outcome::Fails, "", "", kNotAsked,
         std::nullopt},
        {"a link to a shell item with no file", L"computer.lnk", L"", L"", L"", SW_SHOWNORMAL, computer, Outcome::Fails,
         "", "", kNotAsked, std::nullopt},
        {"an Internet shortcut", L"site.url", L"", L"", L"", SW_SHOWNORMAL, nullptr, Outcome::Fails, "", "", kNotAsked,
         std::nullopt},
    };
    for (const Case& c : cases) {
        if (!c.target.empty() || c.item != nullptr) {
            MakeLink(root_ / c.name, c.target, c.arguments, c.folder, c.show, c.item);
        }
    }
    fs::remove(root_ / "removed.exe");

    w::Win32Programs programs;
    for (const Case& c : cases) {
        const std::string link = At(c.name);
        EXPECT_EQ(programs.shortcutTarget(link), c.shortcutTarget) << c.what;
        if (c.outcome == Outcome::Starts) {
            double process = 0;
            const Child started = StartedChild([&] { process = programs.start(link); });
            EXPECT_GT(process, 0.0) << c.what;
            // Its end, before the folders it ran in are removed: a process's current folder cannot be.
            const HANDLE running = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
            if (running != nullptr) {
                WaitForSingleObject(running, 30000);
                CloseHandle(running);
            }
            const std::string& line = started.commandLine;
            if (c.startedShow == kNotAsked) {  // a line of the command processor's or the association's making
                EXPECT_EQ(line.substr(line.size() - std::min(line.size(), c.commandLine.size())), c.commandLine)
                    << c.what << ": " << line;
            } else {
                EXPECT_EQ(line, c.commandLine) << c.what;
                EXPECT_EQ(started.show, c.startedShow) << c.what;
            }
            if (!c.startedIn.empty()) {
                EXPECT_EQ(
                    CompareStringOrdinal(w::Widen(started.folder).c_str(), -1, w::Widen(c.startedIn).c_str(), -1, TRUE),
                    CSTR_EQUAL)
                    << c.what << ": " << started.folder;
            }
        } else {
            try {
                programs.start(link);
                ADD_FAILURE() << c.what << " was started";
            } catch (const ProgramMissing& missing) {
                EXPECT_EQ(c.outcome, Outcome::Missing) << c.what << ": " << missing.what();
                EXPECT_NE(std::string(missing.what()).find(*c.shortcutTarget), std::string::npos) << missing.what();
            } catch (const StartFailed& failure) {
                EXPECT_EQ(c.outcome, Outcome::Fails) << c.what << ": " << failure.what();
                EXPECT_NE(std::string(failure.what()).find(link), std::string::npos) << failure.what();
            }
        }
    }
    CoTaskMemFree(computer);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SelvatroTest.Document");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".selvatrotest");
    SetEnvironmentVariableW(L"SELVATRO_TEST_PLACE", nullptr);
    SetEnvironmentVariableW(L"SELVATRO_TEST_WORK", nullptr);
}

TEST_F(Win32Services, TheStartupLinkIsMadeInTheKnownFolderForEitherName) {
    w::StartupShortcuts shortcuts;
    ASSERT_EQ(shortcuts.createShellLink("\\D\xC3\xA9marrage", "Selvatro test link", "C:\\Tools\\selvatro.exe", "/x"),
              1);
    PWSTR startup = nullptr;
    ASSERT_HRESULT_SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Startup, 0, nullptr, &startup));
    const fs::path file = fs::path(startup) / L"Selvatro test link.lnk";
    CoTaskMemFree(startup);
    ASSERT_TRUE(fs::exists(file));

    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        Microsoft::WRL::ComPtr<IShellLinkW> link;
        Microsoft::WRL::ComPtr<IPersistFile> persist;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)));
        ASSERT_HRESULT_SUCCEEDED(link.As(&persist));
        ASSERT_HRESULT_SUCCEEDED(persist->Load(file.c_str(), STGM_READ));
        std::array<wchar_t, MAX_PATH> text{};
        ASSERT_HRESULT_SUCCEEDED(link->GetPath(text.data(), MAX_PATH, nullptr, SLGP_RAWPATH));
        EXPECT_STREQ(text.data(), L"C:\\Tools\\selvatro.exe");
        ASSERT_HRESULT_SUCCEEDED(link->GetArguments(text.data(), MAX_PATH));
        EXPECT_STREQ(text.data(), L"/x");
    }
    CoUninitialize();
    EXPECT_EQ(shortcuts.createShellLink("\\Startup", "Selvatro test link", "C:\\Tools\\selvatro.exe", ""), 1);
    fs::remove(file);
}

TEST_F(Win32Services, TheBrowserLookupFillsTheFixedBufferOrLeavesItEmpty) {
    const std::string page = files_.writeTemporaryText(".htm", "\"<HTML> <\\HTML>\"\r\n");
    EXPECT_EQ(page.substr(page.size() - 4), ".htm");
    w::ShellBrowser browser;
    std::string result(255, ' ');
    EXPECT_GT(browser.findExecutable(page, "", result), selvatro::platform::kShellFailureCeiling);
    EXPECT_EQ(result.size(), 255u);
    const std::string program = result.substr(0, result.find('\0'));
    ASSERT_GT(program.size(), 4u);
    EXPECT_EQ(w::Narrow(w::Widen(program.substr(program.size() - 4))), ".exe");
    files_.remove(page);
    files_.remove(page);  // already gone: no error

    std::string missing(255, ' ');
    EXPECT_EQ(browser.findExecutable(page, "", missing), selvatro::platform::kShellFileNotFound);
    EXPECT_EQ(missing[0], '\0');
}

// The design hands the browser's path on with a blank after it, and the address of the guide as a bare name.
TEST_F(Win32Services, TheBrowserIsStartedWithTheGuidesFullAddress) {
    const fs::path browserProgram = CopyOfThisProgram(root_ / "browser.exe");
    fs::create_directories(root_ / "guide folder");
    Write(root_ / "guide folder" / "README.html", "<!DOCTYPE html>\n<p>the guide beside the program</p>\n");
    w::ShellBrowser browser(At("guide folder"), "<!DOCTYPE html>\n<p>the guide carried inside</p>\n");
    const std::string started = RunChild([&] {
        EXPECT_GT(browser.shellExecute("open", w::Narrow(browserProgram.wstring()) + " ", "README.html", "",
                                       selvatro::platform::kShowNormal),
                  selvatro::platform::kShellFailureCeiling);
    });
    EXPECT_NE(started.find("file:///"), std::string::npos) << started;
    EXPECT_NE(started.find("/guide%20folder/README.html"), std::string::npos) << started;
}

// A copy of the program without README.html beside it opens the guide that it carries, written out in the user's
// temporary folder under one name: a click leaves no new file, and a changed guide replaces the old copy.
TEST_F(Win32Services, WithoutItsGuideBesideItTheProgramOpensTheOneItCarries) {
    const fs::path browserProgram = CopyOfThisProgram(root_ / "browser.exe");
    const fs::path temporary = root_ / "temporary";
    fs::create_directories(temporary);
    std::array<wchar_t, MAX_PATH + 1> savedTmp{};
    const bool hadTmp = GetEnvironmentVariableW(L"TMP", savedTmp.data(), MAX_PATH) > 0;
    SetEnvironmentVariableW(L"TMP", temporary.c_str());
    const auto click = [&](w::ShellBrowser& browser) {
        return RunChild([&] {
            EXPECT_GT(browser.shellExecute("open", w::Narrow(browserProgram.wstring()) + " ", "README.html", "",
                                           selvatro::platform::kShowNormal),
                      selvatro::platform::kShellFailureCeiling);
        });
    };
    const auto files = [&] { return std::distance(fs::directory_iterator(temporary), fs::directory_iterator()); };

    const std::string guide = "<!DOCTYPE html>\n<p>the guide carried inside</p>\n";
    w::ShellBrowser bare(At("bare copy"), guide);
    const std::string started = click(bare);
    EXPECT_NE(started.find("file:///"), std::string::npos) << started;
    EXPECT_NE(started.find("/temporary/selvatro-guide.htm"), std::string::npos) << started;
    EXPECT_EQ(Bytes(temporary / "selvatro-guide.htm"), guide);
    click(bare);
    EXPECT_EQ(files(), 1);

    const std::string newer = "<!DOCTYPE html>\n<p>a newer guide</p>\n";
    w::ShellBrowser upgraded(At("bare copy"), newer);
    EXPECT_NE(click(upgraded).find("/temporary/selvatro-guide.htm"), std::string::npos);
    EXPECT_EQ(Bytes(temporary / "selvatro-guide.htm"), newer);
    EXPECT_EQ(files(), 1);

    // Nothing to open: the shell's failure, which the window tells the user, and no browser.
    w::ShellBrowser none(At("bare copy"));
    const std::string nothing = RunChild(
        [&] {
            EXPECT_EQ(none.shellExecute("open", w::Narrow(browserProgram.wstring()), "README.html", "",
                                        selvatro::platform::kShowNormal),
                      selvatro::platform::kShellFileNotFound);
        },
        2000);
    EXPECT_EQ(nothing, "");
    SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp.data() : nullptr);
}

// The program carries the page that the build made of the user guide.
TEST(Win32Guide, TheProgramCarriesTheUserGuide) {
    const std::string_view guide = w::CarriedGuide();
    EXPECT_EQ(guide.substr(0, 15), "<!DOCTYPE html>");
    EXPECT_NE(guide.find("Selvatro"), std::string_view::npos);
    EXPECT_NE(guide.find("</html>"), std::string_view::npos);
}

// The test command runs this once in English and once in French (a locale of its own through LOCPATH, as Wine
// takes the user's language only from a glibc locale that exists); it says which through the environment.
TEST(Win32Language, NamesTheUsersLanguageInEnglishAndItsDecimalSeparator) {
    std::array<wchar_t, 64> expected{};
    std::array<wchar_t, 8> separator{};
    if (GetEnvironmentVariableW(L"SELVATRO_EXPECTED_LANGUAGE", expected.data(), 64) == 0 ||
        GetEnvironmentVariableW(L"SELVATRO_EXPECTED_DECIMAL", separator.data(), 8) == 0) {
        GTEST_FAIL() << "run by the test command, which names the language expected";
    }
    w::Win32Language language;
    std::string buffer(99, '\0');
    language.englishLanguageName(buffer, 99);
    EXPECT_EQ(buffer.size(), 99u);
    EXPECT_EQ(buffer.substr(0, buffer.find('\0')), w::Narrow(expected.data()));
    EXPECT_EQ(language.decimalSeparator(), w::Narrow(separator.data()));

    std::string small(4, 'x');
    language.englishLanguageName(small, 4);
    EXPECT_EQ(small, w::Narrow(expected.data()).substr(0, 3) + '\0');
}

TEST(Win32SingleCopy, OneClaimPerFolderWhateverItsLetterCase) {
    const w::SingleCopy first("C:\\Tools\\Selvatro");
    const w::SingleCopy second("c:\\tools\\selvatro\\");
    const w::SingleCopy other("C:\\Tools\\Other");
    EXPECT_TRUE(first.isFirst());
    EXPECT_FALSE(second.isFirst());
    EXPECT_TRUE(other.isFirst());
    EXPECT_FALSE(second.showFirst(0));  // no window published
}

// The same folder through its short 8.3 name is the same list: two copies on it would start every program twice.
TEST_F(Win32Services, OneClaimPerFolderThroughItsShortName) {
    fs::create_directories(root_ / "Alias folder with a long name");
    const std::wstring longName = (root_ / "Alias folder with a long name").wstring();
    std::array<wchar_t, MAX_PATH + 1> shortName{};
    ASSERT_GT(GetShortPathNameW(longName.c_str(), shortName.data(), static_cast<DWORD>(shortName.size())), 0u);
    ASSERT_NE(std::wstring(shortName.data()), longName);
    const w::SingleCopy first(w::Narrow(longName));
    const w::SingleCopy second(w::Narrow(shortName.data()));
    EXPECT_TRUE(first.isFirst());
    EXPECT_FALSE(second.isFirst());
}

// A later start reaches the first copy's window with the message that brings it back. Run in a child, by the
// test below: the child's exit code says what happened.
constexpr wchar_t kShowAgainMark[] = L"SELVATRO_TEST_SHOW_AGAIN";
enum ShowAgain : DWORD { Received = 0, LaterIsFirst = 1, NotPosted = 2, NotInTheQueue = 3, NoWindow = 4 };

ShowAgain PostShowAgainToAWindowOfOurOwn() {
    w::SingleCopy first("C:\\Tools\\Shown");
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        return NoWindow;
    }
    first.publishWindow(window);
    const w::SingleCopy later("C:\\Tools\\Shown");
    ShowAgain result = Received;
    MSG message{};
    if (later.isFirst()) {
        result = LaterIsFirst;
    } else if (!later.showFirst(1000)) {
        result = NotPosted;
    } else if (!PeekMessageW(&message, window, w::ShowAgainMessage(), w::ShowAgainMessage(), PM_REMOVE)) {
        result = NotInTheQueue;
    }
    DestroyWindow(window);
    return result;
}

// Under Wine, a process that first connects to the desktop while Wine is closing it (as it does a second after the
// desktop's last user has gone; our other tests come and go beside this one) can make no window for its whole life.
// So the window is made in a child, started again while that is what happened.
TEST(Win32SingleCopy, ALaterStartPostsTheFirstCopysWindowTheShowMessage) {
    std::array<wchar_t, MAX_PATH + 1> self{};
    ASSERT_GT(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())), 0u);
    DWORD result = NoWindow;
    for (int attempt = 0; attempt < 5 && result == NoWindow; ++attempt) {
        std::wstring commandLine = L"\"" + std::wstring(self.data()) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        SetEnvironmentVariableW(kShowAgainMark, L"1");
        const BOOL started = CreateProcessW(self.data(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                            nullptr, &startup, &child);
        SetEnvironmentVariableW(kShowAgainMark, nullptr);
        ASSERT_TRUE(started) << GetLastError();
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
        GetExitCodeProcess(child.hProcess, &result);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    EXPECT_EQ(result, static_cast<DWORD>(Received))
        << "1: the later start claimed the folder too; 2: it did not post; 3: nothing arrived; 4: no window";
}

}  // namespace

int main(int argc, char** argv) {
    if (GetEnvironmentVariableW(kShowAgainMark, nullptr, 0) > 0) {
        return static_cast<int>(PostShowAgainToAWindowOfOurOwn());
    }
    std::array<wchar_t, MAX_PATH + 1> record{};
    if (GetEnvironmentVariableW(kChildMark, record.data(), static_cast<DWORD>(record.size())) > 0) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        GetStartupInfoW(&startup);
        const fs::path whole(record.data());
        const fs::path part = whole.wstring() + L".part";
        std::ofstream(part, std::ios::binary)
            << w::Narrow(GetCommandLineW()) << '\n'
            << w::Narrow(fs::current_path().wstring()) << '\n'
            << ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1) << '\n';
        return MoveFileExW(part.c_str(), whole.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
