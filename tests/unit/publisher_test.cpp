// The logo's click: the browser lookup through a private temporary file, the browser start with the publisher's
// address, the two messages, and the temporary file gone on every road out.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "desktop/publisher.h"
#include "fake/fake_desktop.h"
#include "platform/text_rules.h"

namespace selvatro {
namespace {

using fake::FakeDesktop;
using platform::MessageStyle;

const std::string kContent = std::string("\"<HTML> <\\HTML>\"") + "\r\n";

// A desktop whose messages note whether the temporary file still existed while they were open.
struct Click {
    explicit Click(FakeDesktop& d) : desktop(d) {
        d.messages.whileOpen = [this] {
            const auto& lookups = desktop.browser.lookups;
            fileWhileMessage = !lookups.empty() && desktop.files.files.count(lookups.back().first) != 0;
        };
    }
    FakeDesktop& desktop;
    bool fileWhileMessage = false;
};

// Temporary files left in the fake file system.
int TemporariesLeft(const FakeDesktop& d) {
    int n = 0;
    for (const auto& [name, content] : d.files.files) {
        n += name.ends_with(".htm") ? 1 : 0;
    }
    return n;
}

TEST(Publisher, TheAddressIsTheConfiguredOneAtEveryClick) {
    FakeDesktop d;
    d.browser.browserPath = "/usr/bin/firefox-esr";
    d.start();
    d.clickLogo();
    d.clickLogo();
    ASSERT_EQ(d.browser.starts.size(), 2u);
    EXPECT_EQ(d.form().Adresse_Web, SELVATRO_PUBLISHER_URL);
    for (const auto& start : d.browser.starts) {
        EXPECT_EQ(start.operation, "open");
        EXPECT_EQ(start.command, "/usr/bin/firefox-esr ");
        EXPECT_EQ(start.parameters, SELVATRO_PUBLISHER_URL);
        EXPECT_EQ(start.folder, "");
        EXPECT_EQ(start.showState, 1);
    }
    EXPECT_TRUE(d.messages.shown.empty());

    // Rebuilt from the empty text, never appended to what an earlier click left.
    d.form().Adresse_Web = "stale";
    desktop::Tovrel_URL(d.form());
    EXPECT_EQ(d.form().Adresse_Web, SELVATRO_PUBLISHER_URL);
}

TEST(Publisher, TheLookupAsksAboutAPrivateHtmlFileThatIsGoneAfterwards) {
    FakeDesktop d;
    d.browser.browserPath = "/usr/bin/firefox-esr";
    d.start();
    d.clickLogo();
    ASSERT_EQ(d.browser.lookups.size(), 1u);
    const auto& [file, existed] = d.browser.lookups[0];
    EXPECT_TRUE(existed) << "the file must exist while the lookup runs";
    EXPECT_TRUE(file.ends_with(".htm")) << file;
    EXPECT_NE(file, "C:\\temphtm.HTM");
    EXPECT_EQ(d.form().Fichier_Temp, file);
    EXPECT_EQ(TemporariesLeft(d), 0);

    // The content is the one record, 18 bytes; seen by writing it where a lookup can read it back.
    d.browser.browserPath.reset();
    d.messages.whileOpen = [&] {
        ASSERT_EQ(d.files.files.count(d.form().Fichier_Temp), 1u);
        EXPECT_EQ(d.files.files.at(d.form().Fichier_Temp), kContent);
        EXPECT_EQ(kContent.size(), 18u);
    };
    d.clickLogo();
    EXPECT_EQ(d.messages.shown.size(), 1u);
}

TEST(Publisher, EachRoadOutShowsItsMessageAndDeletesTheFile) {
    struct Case {
        const char* name;
        std::optional<std::string> browserPath;
        std::int32_t startResult;
        std::size_t starts;
        const char* text;  // nullptr: no message
        const char* title;
    };
    const Case cases[] = {
        {"no browser", std::nullopt, 42, 0, "Could not find your default Browser", "Browser Not Found"},
        {"start fails", std::string("/usr/bin/firefox-esr"), 2, 1, "Web Page not Opened", "URL Failed"},
        {"start fails at 32", std::string("/usr/bin/firefox-esr"), 32, 1, "Web Page not Opened", "URL Failed"},
        {"started at 33", std::string("/usr/bin/firefox-esr"), 33, 1, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDesktop d;
        d.browser.browserPath = c.browserPath;
        d.browser.startResult = c.startResult;
        Click click(d);
        d.start();
        d.clickLogo();
        EXPECT_EQ(d.browser.starts.size(), c.starts);
        if (c.text == nullptr) {
            EXPECT_TRUE(d.messages.shown.empty());
        } else {
            ASSERT_EQ(d.messages.shown.size(), 1u);
            EXPECT_EQ(d.messages.shown[0].text, c.text);
            EXPECT_EQ(d.messages.shown[0].title, c.title);
            EXPECT_EQ(d.messages.shown[0].style, MessageStyle::Exclamation);
            EXPECT_TRUE(click.fileWhileMessage) << "the message comes before the file is deleted";
        }
        EXPECT_EQ(TemporariesLeft(d), 0);
        EXPECT_FALSE(d.ended());
    }
}

TEST(Publisher, AFailedLookupLeavesAnEmptyPathAndStartsNothing) {
    FakeDesktop d;
    d.start();
    d.clickLogo();
    EXPECT_EQ(d.form().Code_Retour, 31);
    // The lookup left a zero at the first position: the path is empty.
    EXPECT_EQ(d.form().Chemin_Navigateur.size(), 255u);
    EXPECT_EQ(d.form().Chemin_Navigateur.find('\0'), 0u);
    EXPECT_TRUE(d.browser.starts.empty());
}

TEST(Publisher, TheBrowserPathIsPassedWholeAndUnquoted) {
    struct Case {
        std::string found;
        std::string command;
    };
    const std::string longPath = "/opt/" + std::string(300, 'b');
    const Case cases[] = {
        {"/opt/my browsers/web browser", "/opt/my browsers/web browser "},
        {"  /opt/leading blanks/browser", "/opt/leading blanks/browser "},  // leading blanks go in the trim
        {"/opt/é/navigateur", "/opt/é/navigateur "},
        // Longer than the buffer: cut to its 255 characters, with no zero among them; all of them are taken.
        {longPath, longPath.substr(0, 255) + " "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found);
        FakeDesktop d;
        d.browser.browserPath = c.found;
        d.start();
        d.clickLogo();
        ASSERT_EQ(d.browser.starts.size(), 1u);
        EXPECT_EQ(d.browser.starts[0].command, c.command);
        EXPECT_EQ(d.browser.starts[0].parameters, SELVATRO_PUBLISHER_URL);
        EXPECT_EQ(platform::CharacterCount(d.form().Chemin_Navigateur), 255u);
    }
}

TEST(Publisher, ATemporaryFileThatCannotBeWrittenOpensNothing) {
    FakeDesktop d;
    d.browser.browserPath = "/usr/bin/firefox-esr";
    d.files.writeFailure = "No space left on device";
    d.start();
    d.clickLogo();
    EXPECT_TRUE(d.browser.lookups.empty());
    EXPECT_TRUE(d.browser.starts.empty());
    ASSERT_EQ(d.messages.shown.size(), 1u);
    EXPECT_EQ(d.messages.shown[0].text, "Web Page not Opened");
    EXPECT_EQ(d.messages.shown[0].title, "URL Failed");
    EXPECT_EQ(TemporariesLeft(d), 0);
    EXPECT_FALSE(d.ended());

    // The next click, with the disk writable again, opens the page.
    d.files.writeFailure.reset();
    d.clickLogo();
    EXPECT_EQ(d.browser.starts.size(), 1u);
    EXPECT_EQ(d.messages.shown.size(), 1u);
}

}  // namespace
}  // namespace selvatro
