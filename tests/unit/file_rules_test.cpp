// The file rules that both desktops share.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/file_rules.h"

namespace selvatro::platform {
namespace {

TEST(ListIdentity, OneNamePerFolderWhateverSeparatorsEndIt) {
    const std::string tools = ListIdentity("C:\\TOOLS\\SELVATRO", "\\/");
    EXPECT_EQ(tools.size(), 16u);
    EXPECT_EQ(tools.find_first_not_of("0123456789abcdef"), std::string::npos);
    struct Case {
        std::string_view folder;
        std::string_view separators;
        std::string_view sameAs;
    };
    const Case same[] = {
        {"C:\\TOOLS\\SELVATRO\\", "\\/", "C:\\TOOLS\\SELVATRO"},
        {"C:\\TOOLS\\SELVATRO\\/\\", "\\/", "C:\\TOOLS\\SELVATRO"},
        {"/usr/bin/", "/", "/usr/bin"},
        {"/usr/bin///", "/", "/usr/bin"},
        {"C:\\", "\\/", "C:\\"},
        {"/", "/", "/"},
    };
    for (const Case& c : same) {
        EXPECT_EQ(ListIdentity(c.folder, c.separators), ListIdentity(c.sameAs, c.separators)) << c.folder;
    }
    // A root keeps its separator; a backslash is part of a POSIX name; case counts (the desktop folds it first).
    const std::set<std::string> distinct = {
        ListIdentity("C:\\", "\\/"),
        ListIdentity("C:", "\\/"),
        ListIdentity("/", "/"),
        ListIdentity("", "/"),
        ListIdentity("/opt/a\\", "/"),
        ListIdentity("/opt/a", "/"),
        ListIdentity("C:\\TOOLS\\SELVATRO", "\\/"),
        ListIdentity("C:\\Tools\\Selvatro", "\\/"),
        ListIdentity("C:\\TOOLS\\OTHER", "\\/"),
    };
    EXPECT_EQ(distinct.size(), 9u);
    // FNV-1a of the bytes: the claim's name stays the same from one build to the next.
    EXPECT_EQ(ListIdentity("", "/"), "cbf29ce484222325");
    EXPECT_EQ(ListIdentity("a", "/"), "af63dc4c8601ec8c");
}

}  // namespace
}  // namespace selvatro::platform
