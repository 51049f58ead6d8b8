// The file services and the application facts on the real file system.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file_rules.h"
#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using test::FolderEntries;
using test::InChild;
using test::ModeOf;
using test::ReadFile;
using test::Sandbox;
using test::WriteFile;

// The text of a file that was read whole; nothing for one absent or unreadable.
std::optional<std::string> Text(const FileText& file) {
    return file.status == FileText::Status::Read ? std::optional<std::string>(file.text) : std::nullopt;
}

TEST(PosixFiles, ReplaceAndReadGiveBackEveryByte) {
    Sandbox box;
    PosixFiles files;
    const std::string name = box.path() + "/selvatro.cfg";
    const std::string texts[] = {
        "",
        "\"/usr/bin/xterm\",\"5\"\r\n\"\",\"\"\r\n",
        "\"/opt/é€ programmes/navigateur\",\"10\"\r\n",
        std::string("with a zero \0 inside", 20),
    };
    for (const std::string& text : texts) {
        files.replaceText(name, text);
        EXPECT_EQ(ReadFile(name), text);
        EXPECT_EQ(Text(files.readText(name)), text);
    }
    // Only the file itself is left: the temporary was renamed into place each time.
    EXPECT_EQ(FolderEntries(box.path()), std::vector<std::string>{"selvatro.cfg"});
}

// A save killed between its first write and its rename leaves its temporary behind; the next save takes away
// those old enough that no save can still be writing them, and nothing else.
TEST(PosixFiles, ASaveRemovesTheTemporariesThatKilledSavesLeft) {
    Sandbox box;
    PosixFiles files;
    const std::string name = box.path() + "/selvatro.cfg";
    WriteFile(name, "same");
    const auto age = [&](const std::string& file, time_t seconds) {
        const timespec times[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (box.path() + "/" + file).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << file;
    };
    const std::string left[] = {".selvatro.cfg.a1B2c3", ".selvatro.cfg.XyZ789"};
    const std::string kept[] = {
        ".selvatro.cfg.recent",  // a save may still be writing it
        ".selvatro.cfg.abc",     // not a temporary's name
        ".selvatro.cfg.ab-d.f",  // nor this
        ".other.cfg.a1B2c3",     // another file's
        "selvatro.cfg.a1B2c3",   // no dot in front
    };
    for (const std::string& file : left) {
        WriteFile(box.path() + "/" + file, "\"/bin/tr");
        age(file, 3600);
    }
    for (const std::string& file : kept) {
        WriteFile(box.path() + "/" + file, "x");
        if (file != ".selvatro.cfg.recent") {
            age(file, 3600);
        }
    }
    age(".selvatro.cfg.recent", 60);
    box.make(".selvatro.cfg.dir123");  // a folder of that name is not ours to remove
    age(".selvatro.cfg.dir123", 3600);

    files.replaceText(name, "same");  // even when the list itself needs no writing
    std::vector<std::string> expected(std::begin(kept), std::end(kept));
    expected.push_back(".selvatro.cfg.dir123");
    expected.push_back("selvatro.cfg");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderEntries(box.path()), expected);
    EXPECT_EQ(ReadFile(name), "same");
}

TEST(PosixFiles, TextThatIsNotUtf8IsReadAsWindows1252) {
    Sandbox box;
    PosixFiles files;
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"\"C:\\Programmes\\\xE9t\xE9.exe\",\"5\"\r\n", "\"C:\\Programmes\\été.exe\",\"5\"\r\n"},
        {"\x80 \x85 \x9F", "€ … Ÿ"},
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // undefined: kept as their own code
        {"\xC0\xAF", "À¯"},                                                    // an overlong '/' is not UTF-8
        {"\xED\xA0\x80", "í\xC2\xA0€"},                                        // neither is a surrogate
        {"ok \xC3", "ok Ã"},                                                   // a sequence cut short
        {"d\xC3\xA9j\xC3\xA0 UTF-8 \xF0\x9F\x98\x80", "déjà UTF-8 😀"},         // valid: as it is
    };
    for (const auto& c : cases) {
        const std::string name = box.path() + "/list";
        WriteFile(name, c.bytes);
        EXPECT_EQ(Text(files.readText(name)), c.text) << c.bytes;
    }
}

// What a Windows editor writes when asked for "Unicode": the list reads as the same text, without the mark.
TEST(PosixFiles, AListInUtf16WithItsMarkReadsAsText) {
    Sandbox box;
    PosixFiles files;
    const std::string name = box.path() + "/selvatro.cfg";
    const std::u16string units = u"\uFEFF\"/opt/été/😀\",\"5\"\r\n\"\",\"\"\r\n";
    for (const bool bigEndian : {false, true}) {
        std::string bytes;
        for (const char16_t unit : units) {
            const char high = static_cast<char>(unit >> 8);
            const char low = static_cast<char>(unit & 0xFF);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        WriteFile(name, bytes);
        EXPECT_EQ(Text(files.readText(name)), "\"/opt/été/😀\",\"5\"\r\n\"\",\"\"\r\n") << bigEndian;
    }
}

TEST(PosixFiles, WhatCannotBeOpenedReadsAsNothingAndAHugeFileOnlyAsFarAsAListReaches) {
    Sandbox box;
    PosixFiles files;
    EXPECT_EQ(files.readText(box.path() + "/missing").status, FileText::Status::Absent);
    EXPECT_EQ(files.readText(box.path()).status, FileText::Status::Absent);
    EXPECT_EQ(files.readText("").status, FileText::Status::Absent);
    WriteFile(box.path() + "/huge", std::string(3 * kTextReadLimit, 'x'));
    const FileText huge = files.readText(box.path() + "/huge");
    EXPECT_EQ(huge.status, FileText::Status::Read);
    EXPECT_EQ(huge.text.size(), kTextReadLimit);
}

TEST(PosixFiles, ReplacingKeepsTheModeAndTheSymbolicLink) {
    Sandbox box;
    PosixFiles files;
    const std::string kept = box.path() + "/kept";
    WriteFile(kept, "old", 0640);
    files.replaceText(kept, "new");
    EXPECT_EQ(ModeOf(kept), 0640u);

    const std::string fresh = box.path() + "/fresh";
    files.replaceText(fresh, "new");
    EXPECT_EQ(ModeOf(fresh), 0644u);

    // A list kept elsewhere and linked into place stays linked; the file it points at is what changes.
    const std::string real = box.make("dotfiles") + "/selvatro.cfg";
    const std::string link = box.path() + "/selvatro.cfg";
    WriteFile(real, "old");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    files.replaceText(link, "new");
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFile(real), "new");
}

// Tests run as root, where permission checks do not bite: the failures below are ones that also stop root, plus a
// read-only folder tried as an unprivileged user.
TEST(PosixFiles, AFailedReplaceLeavesTheOldFileAndNoTemporary) {
    Sandbox box;
    PosixFiles files;

    try {
        files.replaceText(box.path() + "/no such folder/selvatro.cfg", "new");
        ADD_FAILURE() << "a missing folder must fail";
    } catch (const FileError& error) {
        EXPECT_STREQ(error.what(), "No such file or directory");
    }

    // The rename is the step that fails: the name is taken by a folder.
    const std::string taken = box.make("selvatro.cfg");
    WriteFile(taken + "/inside", "kept");
    EXPECT_THROW(files.replaceText(taken, "new"), FileError);
    EXPECT_EQ(ReadFile(taken + "/inside"), "kept");
    EXPECT_EQ(FolderEntries(box.path()), std::vector<std::string>{"selvatro.cfg"});

    const std::string locked = box.make("locked");
    WriteFile(locked + "/selvatro.cfg", "old");
    chmod(locked.c_str(), 0555);
    const std::string result = InChild(
        [&] {
            PosixFiles asUser;
            asUser.replaceText(locked + "/selvatro.cfg", "new");
            return std::string("written");
        },
        true);
    EXPECT_EQ(result, "exception: Permission denied");
    EXPECT_EQ(ReadFile(locked + "/selvatro.cfg"), "old");
    EXPECT_EQ(FolderEntries(locked), std::vector<std::string>{"selvatro.cfg"});
}

// What a list name may hold instead of a list: a save leaves each as it was and says why; a read gets nothing from
// it, at once (a FIFO without a writer, or a device that never ends, would hold up the start for good).
TEST(PosixFiles, WhatIsNotARegularFileIsNeitherReadNorReplaced) {
    Sandbox box;
    const std::string p = box.path();
    ASSERT_EQ(mkfifo((p + "/fifo").c_str(), 0644), 0);

    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = p + "/socket";
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    std::copy(socketName.begin(), socketName.end(), address.sun_path);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // A device of our own making (/dev/zero's numbers), so that a save that did replace it would harm nothing.
    // Without the right to make one, an unprivileged user's link to the real one is just as safe.
    std::string device = p + "/zero";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0) {
        ASSERT_NE(geteuid(), 0u) << "root without the right to make a device: nothing safe to link to";
        device = "/dev/zero";
    }
    ASSERT_EQ(symlink(device.c_str(), (p + "/device link").c_str()), 0);
    ASSERT_EQ(symlink((p + "/gone").c_str(), (p + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink((p + "/fifo").c_str(), (p + "/fifo link").c_str()), 0);

    struct Case {
        std::string name;
        std::string reason;
    };
    const Case cases[] = {
        {"fifo", "Not a regular file but a named pipe (FIFO)"},
        {"fifo link", "Not a regular file but a named pipe (FIFO)"},
        {"socket", "Not a regular file but a socket"},
        {"device link", "Not a regular file but a device"},
        {"dangling", "A symbolic link to a file that does not exist"},
    };
    const auto kind = [](const std::string& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    };
    const std::vector<std::string> before = FolderEntries(p);
    for (const Case& c : cases) {
        const std::string path = p + "/" + c.name;
        const mode_t kindBefore = kind(path);
        // In a child that an alarm ends, so that a read that blocks fails the test instead of hanging it.
        const std::string result = InChild([&] {
            alarm(5);
            PosixFiles files;
            std::string seen = Text(files.readText(path)) ? "read" : "nothing";
            try {
                files.replaceText(path, "\"/bin/true\",\"5\"\r\n");
                seen += ", replaced";
            } catch (const FileError& error) {
                seen += std::string(", ") + error.what();
            }
            return seen;
        });
        EXPECT_EQ(result, "nothing, " + c.reason) << c.name;
        EXPECT_EQ(kind(path), kindBefore) << c.name;
    }
    EXPECT_EQ(kind(device), static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(kind(p + "/gone"), 0u);
    EXPECT_EQ(FolderEntries(p), before);  // and no temporary was left behind
    close(listener);
}

// A system-wide install: the executable's folder belongs to root, the user keeps the list in the per-user folder.
// Each session settles the place as a start does, with the machine's list folders that XDG_CONFIG_DIRS names, and
// saves as the end does, on the real system.
TEST(PosixFiles, AListBesideAnExecutableTheUserCannotWriteIsKeptPerUser) {
    Sandbox box;
    const std::string bin = box.make("bin");
    const std::string home = box.make("home");
    const std::string site = box.make("site/selvatro");
    const std::string xdg = box.make("xdg/selvatro");
    chown(home.c_str(), 65534, 65534);
    chmod(bin.c_str(), 0555);  // for a test run by someone other than root
    const std::string perUser = home + "/.config/selvatro";
    const std::string beside = bin + "/selvatro.cfg";
    WriteFile(beside, "beside");
    WriteFile(xdg + "/selvatro.cfg", "machine");
    std::filesystem::create_directory(site + "/selvatro.cfg");  // no list: the next folder's is read

    const auto session = [&](const std::optional<std::string>& save) {
        return InChild(
            [&] {
                setenv("XDG_CONFIG_DIRS",
                       (box.path() + "/none:relative:" + box.path() + "/site/:" + box.path() + "/xdg").c_str(), 1);
                PosixFiles files;
                const ListPlace place =
                    SettleListPlace(files, bin, perUser, "selvatro.cfg", PosixAppFacts().machineListFolders());
                std::string seen = place.read == xdg + "/selvatro.cfg"       ? "machine:"
                                   : place.read == perUser + "/selvatro.cfg" ? "own:"
                                                                             : "?" + place.read + ":";
                seen += Text(files.readText(place.read)).value_or("(nothing)");
                if (save) {
                    files.makeFolder(place.userFolder);
                    files.replaceText(place.write, *save, place.read);
                }
                return seen + (place.write == perUser + "/selvatro.cfg" ? " > own" : " > ?");
            },
            true);
    };

    // First run: read from the machine's list, written to the per-user folder, made private on the way; the file
    // beside the executable is never read.
    EXPECT_EQ(session("mine"), "machine:machine > own");
    EXPECT_EQ(ReadFile(xdg + "/selvatro.cfg"), "machine");
    EXPECT_EQ(ReadFile(perUser + "/selvatro.cfg"), "mine");
    EXPECT_EQ(ModeOf(home + "/.config"), 0700u);
    EXPECT_EQ(ModeOf(perUser), 0700u);

    // From then on the per-user copy is the list, also when the machine's one goes.
    EXPECT_EQ(session("again"), "own:mine > own");
    std::filesystem::remove(xdg + "/selvatro.cfg");
    EXPECT_EQ(session(std::nullopt), "own:again > own");

    // No list anywhere for a new user: the user's own place, empty, and still not the file beside the program.
    std::filesystem::remove(perUser + "/selvatro.cfg");
    EXPECT_EQ(session(std::nullopt), "own:(nothing) > own");

    // The file services themselves use every path where it is: nothing beside the executable is ever redirected
    // to the per-user folder, whatever it holds under that name.
    WriteFile(perUser + "/tool", "#!/bin/sh\n", 0755);
    const auto asUser = [&](const std::function<std::string(PosixFiles&)>& body) {
        return InChild(
            [&] {
                PosixFiles files;
                return body(files);
            },
            true);
    };
    EXPECT_EQ(asUser([&](PosixFiles& f) { return std::string(f.folderWritable(bin) ? "yes" : "no"); }), "no");
    EXPECT_EQ(asUser([&](PosixFiles& f) { return std::string(f.ordinaryFileExists(bin + "/tool") ? "yes" : "no"); }),
              "no");
    EXPECT_EQ(asUser([&](PosixFiles& f) { return (f.replaceText(bin + "/tool", "x"), std::string("written")); }),
              "exception: Permission denied");
}

// The machine's folders in their order of preference, as the base directory rules read XDG_CONFIG_DIRS.
TEST(ConfigDirs, TheAbsoluteFoldersOfXdgConfigDirsElseEtcXdg) {
    const struct {
        const char* value;  // nullptr: unset
        std::vector<std::string> folders;
    } cases[] = {
        {nullptr, {"/etc/xdg"}},
        {"", {"/etc/xdg"}},
        {"/etc/site:/etc/xdg", {"/etc/site", "/etc/xdg"}},
        {"relative:/etc/site/::/", {"/etc/site", ""}},  // the root: "" before "/selvatro"
        {"relative:also/relative", {"/etc/xdg"}},
    };
    const char* saved = std::getenv("XDG_CONFIG_DIRS");
    const std::string kept = saved != nullptr ? saved : "";
    for (const auto& c : cases) {
        c.value != nullptr ? setenv("XDG_CONFIG_DIRS", c.value, 1) : unsetenv("XDG_CONFIG_DIRS");
        EXPECT_EQ(ConfigDirs(), c.folders) << (c.value != nullptr ? c.value : "(unset)");
    }
    saved != nullptr ? setenv("XDG_CONFIG_DIRS", kept.c_str(), 1) : unsetenv("XDG_CONFIG_DIRS");
    setenv("XDG_CONFIG_DIRS", "/etc/site:/etc/xdg", 1);
    EXPECT_EQ(PosixAppFacts().machineListFolders(),
              (std::vector<std::string>{"/etc/site/selvatro", "/etc/xdg/selvatro"}));
    saved != nullptr ? setenv("XDG_CONFIG_DIRS", kept.c_str(), 1) : unsetenv("XDG_CONFIG_DIRS");
}

TEST(PosixFiles, AWritableExecutableFolderKeepsTheListBesideIt) {
    Sandbox box;
    const std::string bin = box.make("bin");
    const std::string perUser = box.path() + "/home/.config/selvatro";
    PosixFiles files;
    EXPECT_TRUE(files.folderWritable(bin));
    const ListPlace place = SettleListPlace(files, bin, perUser, "selvatro.cfg");
    EXPECT_EQ(place, (ListPlace{bin + "/selvatro.cfg", bin + "/selvatro.cfg", ""}));
    files.replaceText(place.write, "beside");
    EXPECT_EQ(ReadFile(bin + "/selvatro.cfg"), "beside");
    EXPECT_FALSE(std::filesystem::exists(perUser));
}

// What the per-user folder is made with, and what existence means for the list's place.
TEST(PosixFiles, FoldersAreMadePrivateAndAnythingStandingThereExists) {
    Sandbox box;
    PosixFiles files;
    const std::string own = box.path() + "/a/b/selvatro";
    files.makeFolder(own);
    files.makeFolder(own);  // already there: no error
    EXPECT_EQ(ModeOf(box.path() + "/a"), 0700u);
    EXPECT_EQ(ModeOf(own), 0700u);
    WriteFile(box.path() + "/file", "");
    EXPECT_THROW(files.makeFolder(box.path() + "/file"), FileError);
    EXPECT_THROW(files.makeFolder(box.path() + "/file/below"), FileError);

    WriteFile(own + "/.hidden", "");
    EXPECT_TRUE(files.exists(own + "/.hidden"));  // a list the user hid is still the list
    EXPECT_TRUE(files.exists(own));
    EXPECT_FALSE(files.exists(own + "/missing"));
    symlink((box.path() + "/gone").c_str(), (own + "/dangling").c_str());
    EXPECT_FALSE(files.exists(own + "/dangling"));
}

TEST(PosixFiles, OnlyAnOrdinaryFileNamedLiterallyExists) {
    Sandbox box;
    PosixFiles files;
    const std::string p = box.path();
    WriteFile(p + "/program", "#!/bin/sh\n", 0755);
    WriteFile(p + "/.hidden", "", 0755);
    WriteFile(p + "/with blank", "");
    box.make("folder");
    symlink((p + "/program").c_str(), (p + "/link").c_str());
    symlink((p + "/gone").c_str(), (p + "/dangling").c_str());
    symlink((p + "/folder").c_str(), (p + "/folder link").c_str());
    struct Case {
        std::string path;
        bool exists;
    };
    const Case cases[] = {
        {p + "/program", true},
        {p + "/folder", false},
        {p + "/link", true},  // a link counts for what it points at
        {p + "/dangling", false},
        {p + "/folder link", false},
        {p + "/.hidden", false},
        {p + "/with blank", true},
        {p + "/program -x", false},  // no arguments: the whole text is the name
        {p + "/prog*", false},       // no patterns either
        {p + "/program/", false},
        {p, false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files.ordinaryFileExists(c.path), c.exists) << "'" << c.path << "'";
    }
}

TEST(PosixFiles, TemporaryFilesArePrivateAndUnique) {
    Sandbox box;
    PosixFiles files;
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("TMPDIR", box.path().c_str(), 1);
    const std::string content = std::string("\"<HTML> <\\HTML>\"") + "\r\n";
    const std::string first = files.writeTemporaryText(".htm", content);
    const std::string second = files.writeTemporaryText(".htm", content);
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.rfind(box.path() + "/", 0), 0u) << name;
        EXPECT_TRUE(name.ends_with(".htm")) << name;
        EXPECT_EQ(ModeOf(name), 0600u);
        EXPECT_EQ(ReadFile(name), content);
    }
    files.remove(first);
    files.remove(first);  // already gone: no error
    EXPECT_FALSE(std::filesystem::exists(first));

    setenv("TMPDIR", (box.path() + "/missing").c_str(), 1);
    EXPECT_THROW(files.writeTemporaryText(".htm", content), FileError);
    if (previous != nullptr) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

TEST(PosixFiles, TheCurrentFolderChangesOrTheCallFails) {
    Sandbox box;
    PosixFiles files;
    const std::filesystem::path before = std::filesystem::current_path();
    files.setCurrentDrive("C:\\");  // no drives here: nothing happens
    EXPECT_EQ(std::filesystem::current_path(), before);
    files.setCurrentFolder(box.path());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(box.path()));
    EXPECT_THROW(files.setCurrentFolder(box.path() + "/missing"), FileError);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(box.path()));
    std::filesystem::current_path(before);
    EXPECT_EQ(files.separator(), '/');
}

TEST(PosixAppFacts, TheExecutablesFolderAndThisBuildsVersion) {
    const PosixAppFacts facts;
    const std::string folder = facts.folder();
    EXPECT_EQ(folder, std::filesystem::canonical("/proc/self/exe").parent_path().string());
    EXPECT_NE(folder.back(), '/');
    EXPECT_EQ(facts.productName(), "selvatro");
    EXPECT_EQ(facts.fileDescription(), "selvatro");
    EXPECT_EQ(facts.version().major, 1);
    EXPECT_EQ(facts.version().minor, 2);
    EXPECT_EQ(facts.version().revision, 0);
}

}  // namespace
}  // namespace selvatro::platform::posix
