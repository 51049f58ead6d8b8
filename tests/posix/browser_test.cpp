// The default web browser from GIO's MIME database, in a private XDG sandbox, and its start with an address.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using test::InChild;
using test::ReadRecord;
using test::Sandbox;
using test::WriteFile;
using test::WriteRecorder;

// A sandbox with applications registered in it: each desktop file is named by its id.
struct Desktop {
    Sandbox box;
    std::map<std::string, std::string> environment = test::XdgSandbox(box);

    std::string applications() const { return environment.at("XDG_DATA_HOME") + "/applications"; }

    void install(const std::string& id, const std::string& exec, const std::string& mimeTypes) {
        std::filesystem::create_directories(applications());
        WriteFile(applications() + "/" + id, "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec +
                                                 "\nMimeType=" + mimeTypes + "\n");
    }
    void defaults(const std::string& lines) {
        WriteFile(environment.at("XDG_CONFIG_HOME") + "/mimeapps.list", "[Default Applications]\n" + lines);
    }
    // The lookup as a fresh process sees it: GIO reads the environment once, on first use.
    std::string lookup(std::size_t bufferSize = 256) const {
        return InChild([&] {
            test::ApplyEnvironment(environment);
            std::string buffer(bufferSize, ' ');
            const std::int32_t code = GioBrowser().findExecutable("/tmp/selvatro-x.htm", "", buffer);
            if (buffer.size() != bufferSize) {
                return std::string("the buffer changed size");
            }
            return std::to_string(code) + " " + buffer.substr(0, buffer.find('\0')) +
                   (buffer.find('\0') == std::string::npos ? "(no zero)" : "");
        });
    }
};

TEST(GioBrowser, FindsTheHandlerOfWebAddressesWholeAndAsAFullPath) {
    Desktop d;
    const std::string browser = d.box.make("my browsers") + "/fake browser";
    WriteRecorder(browser);
    d.install("editor.desktop", "/bin/true %f", "text/html;text/plain;");
    d.install("fake-browser.desktop", "\"" + browser + "\" %u", "x-scheme-handler/https;x-scheme-handler/http;");
    // The file's own type has a handler too: a text editor, which must not be taken for the browser.
    d.defaults("text/html=editor.desktop\nx-scheme-handler/https=fake-browser.desktop\n");
    EXPECT_EQ(d.lookup(), "42 " + browser);
}

TEST(GioBrowser, AProgramNamedWithoutAFolderIsFoundOnThePath) {
    Desktop d;
    const std::string bin = d.box.make("bin");
    WriteRecorder(bin + "/fake-browser");
    d.environment["PATH"] = bin + ":/usr/bin:/bin";
    d.install("fake-browser.desktop", "fake-browser %u", "x-scheme-handler/http;");
    d.defaults("x-scheme-handler/http=fake-browser.desktop\n");  // only http: the fallback
    EXPECT_EQ(d.lookup(), "42 " + bin + "/fake-browser");
}

TEST(GioBrowser, APathLongerThanTheBufferIsCutAtACharacter) {
    Desktop d;
    std::string folder = d.box.path();
    while (folder.size() < 300) {
        folder = d.box.make(folder.substr(d.box.path().size()) + "/éééééééééé");
    }
    const std::string browser = folder + "/b";
    WriteRecorder(browser);
    d.install("b.desktop", "\"" + browser + "\" %u", "x-scheme-handler/https;");
    d.defaults("x-scheme-handler/https=b.desktop\n");
    const std::string found = d.lookup(256);
    ASSERT_EQ(found.rfind("42 ", 0), 0u) << found;
    const std::string path = found.substr(3);
    EXPECT_LE(path.size(), 255u);
    EXPECT_GE(path.size(), 254u);
    EXPECT_EQ(browser.rfind(path, 0), 0u);
    EXPECT_NE(static_cast<unsigned char>(path.back()) & 0xC0u, 0xC0u) << "a character was cut in two";
}

TEST(GioBrowser, NoBrowserRegisteredAnswers31WithAnEmptyPath) {
    Desktop d;
    d.install("editor.desktop", "/bin/true %f", "text/html;");
    d.defaults("text/html=editor.desktop\n");
    EXPECT_EQ(d.lookup(), "31 ");
}

TEST(GioBrowser, StartsTheCommandWithTheAddressAsItsOneArgument) {
    Sandbox box;
    const std::string browser = box.make("my browsers") + "/fake browser";
    WriteRecorder(browser);
    const std::string record = box.path() + "/record";
    const std::string address = "https://example.org/a page?q=$HOME&x='1' \"2\"";
    // In a child, as every start here: what a first start learns of the session stays with its process.
    const std::string answers = InChild([&] {
        setenv("SELVATRO_RECORD", record.c_str(), 1);
        GioBrowser gio;
        std::string said;
        for (const std::string& command : {browser + " ", box.path() + "/missing ", std::string(" "), std::string()}) {
            said += std::to_string(gio.shellExecute("open", command, address, "", 1)) + ";";
        }
        return said;
    });
    EXPECT_EQ(answers, "42;2;2;2;");
    const auto seen = ReadRecord(record);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->name, browser);
    EXPECT_EQ(seen->arguments, std::vector<std::string>{address});
    EXPECT_NE(seen->session, getsid(0));
}

// The lookup, then the start with the buffer's path, as a click on the logo does them.
std::string LookUpAndOpen(
    const Desktop& d, const std::string& record, const std::string& address,
    const std::function<void()>& between = [] {}) {
    return InChild([&] {
        test::ApplyEnvironment(d.environment);
        setenv("SELVATRO_RECORD", record.c_str(), 1);
        GioBrowser gio;
        std::string buffer(256, ' ');
        const std::int32_t found = gio.findExecutable("page.htm", "", buffer);
        if (found <= kShellFailureCeiling) {
            return "not found: " + std::to_string(found);
        }
        between();
        const std::string command = buffer.substr(0, buffer.find('\0')) + " ";
        return buffer.substr(0, buffer.find('\0')) + " " +
               std::to_string(gio.shellExecute("open", command, address, "", 1));
    });
}

TEST(GioBrowser, TheLookedUpBrowserOpensTheAddress) {
    Desktop d;
    const std::string browser = d.box.make("bin") + "/fake-browser";
    WriteRecorder(browser);
    d.install("fake-browser.desktop", browser + " %u", "x-scheme-handler/https;");
    d.defaults("x-scheme-handler/https=fake-browser.desktop\n");
    const std::string record = d.box.path() + "/record";
    const std::string address = "https://example.org/a page?q=$HOME&x='1' \"2\"";
    EXPECT_EQ(LookUpAndOpen(d, record, address), browser + " 42");
    const auto seen = ReadRecord(record);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->name, browser);
    EXPECT_EQ(seen->arguments, std::vector<std::string>{address});
}

// A browser started through a wrapper (env with settings, flatpak run): the lookup names the wrapper, and the
// address still reaches the browser, not the wrapper as a program to run.
TEST(GioBrowser, AWrappedHandlerIsStartedAsItsEntrySays) {
    Desktop d;
    const std::string browser = d.box.make("bin") + "/fake-browser";
    WriteRecorder(browser);
    d.install("wrapped.desktop", "env MOZ_ENABLE_WAYLAND=1 " + browser + " %u", "x-scheme-handler/https;");
    d.defaults("x-scheme-handler/https=wrapped.desktop\n");
    const std::string record = d.box.path() + "/record";
    const std::string env = std::filesystem::canonical("/usr/bin/env").string();
    const std::string result = LookUpAndOpen(d, record, "https://example.org/");
    EXPECT_TRUE(result == "/usr/bin/env 42" || result == env + " 42") << result;
    const auto seen = ReadRecord(record);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->name, browser);
    EXPECT_EQ(seen->arguments, std::vector<std::string>{"https://example.org/"});
}

// The other field codes of the Exec line stand for what the entry says, each as one argument; a program that takes
// files gets a local page as its path.
TEST(GioBrowser, TheFieldCodesOfTheHandlersEntryAreExpanded) {
    Desktop d;
    const std::string browser = d.box.make("my bin") + "/fake browser";
    WriteRecorder(browser);
    std::filesystem::create_directories(d.applications());
    const std::string entry = d.applications() + "/codes.desktop";
    WriteFile(entry, "[Desktop Entry]\nType=Application\nName=My \"Browser\"\nIcon=web browser\nExec=\"" + browser +
                         "\" --title %c %i --from=%k 100%% %d %U\nMimeType=x-scheme-handler/https;\n");
    d.defaults("x-scheme-handler/https=codes.desktop\n");
    const std::string record = d.box.path() + "/record";
    const std::string address = "https://example.org/a b?q='1'&r=$HOME";
    EXPECT_EQ(LookUpAndOpen(d, record, address), browser + " 42");
    auto seen = ReadRecord(record);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->arguments, (std::vector<std::string>{"--title", "My \"Browser\"", "--icon", "web browser",
                                                         "--from=" + entry, "100%", address}));

    std::filesystem::remove(record);
    WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Files\nExec=\"" + browser +
                         "\" %f\nMimeType=x-scheme-handler/https;\n");
    EXPECT_EQ(LookUpAndOpen(d, record, "file:///usr/share/doc/selvatro/README%20page.html"), browser + " 42");
    seen = ReadRecord(record);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->arguments, std::vector<std::string>{"/usr/share/doc/selvatro/README page.html"});
}

// A handler whose program cannot run is a failure, not a page reported open: its interpreter is missing, or the
// program went away between the lookup and the start.
TEST(GioBrowser, AHandlerThatCannotStartIsAFailure) {
    Desktop d;
    const std::string browser = d.box.make("bin") + "/fake-browser";
    WriteFile(browser, "#!/nonexistent/interpreter\n", 0755);
    d.install("broken.desktop", browser + " %u", "x-scheme-handler/https;");
    d.defaults("x-scheme-handler/https=broken.desktop\n");
    const std::string record = d.box.path() + "/record";
    EXPECT_EQ(LookUpAndOpen(d, record, "https://example.org/"), browser + " " + std::to_string(kShellFileNotFound));

    WriteRecorder(browser);
    EXPECT_EQ(LookUpAndOpen(d, record, "https://example.org/", [&] { std::filesystem::remove(browser); }),
              browser + " " + std::to_string(kShellFileNotFound));
    EXPECT_FALSE(std::filesystem::exists(record));
}

}  // namespace
}  // namespace selvatro::platform::posix
