#include "list/list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace selvatro::list {
namespace {

std::vector<std::string> AllFields(const std::string& text) {
    FieldReader reader(text);
    std::vector<std::string> fields;
    while (auto f = reader.Next()) {
        fields.push_back(*f);
        if (fields.size() > 100) {
            break;  // a reader that never ends is a failure, not a hang
        }
    }
    return fields;
}

using Fields = std::vector<std::string>;

TEST(ListFileWriter, WritesQuotedRecordsWithCrLf) {
    EXPECT_EQ(Record("", ""), "\"\",\"\"\r\n");
    EXPECT_EQ(Record("C:\\Outils\\agenda.exe", "10").size(), 29u);
    EXPECT_EQ(Record("C:\\Program Files\\Mail\\mail.exe", "25"), "\"C:\\Program Files\\Mail\\mail.exe\",\"25\"\r\n");
    EXPECT_EQ(Record("a \"b\"", "x"), "\"a \"b\"\",\"x\"\r\n");  // no escape of any kind
}

TEST(ListFileReader, ReadsWhatTheWriterWrites) {
    const Fields texts = {"/opt/my apps/a, b", "10", "", "", " blanks ", "1 0", "Zoé", "x,y", "", ""};
    std::string file;
    for (std::size_t i = 0; i < texts.size(); i += 2) {
        file += Record(texts[i], texts[i + 1]);
    }
    EXPECT_EQ(AllFields(file), texts);
}

struct HandEdited {
    const char* what;
    std::string file;
    Fields fields;
};

TEST(ListFileReader, ReadsHandEditedFilesSanely) {
    const HandEdited cases[] = {
        {"a double quote inside a text ends the field", "\"a \"b\"\",\"5\"\r\n", {"a ", "5"}},
        {"unquoted fields, blanks trimmed", "  /bin/a  , 5 \r\n", {"/bin/a", "5"}},
        {"unquoted text keeps inner blanks", "/opt/my app,1 0\n", {"/opt/my app", "1 0"}},
        {"lone line feeds end records", "\"a\",\"1\"\n\"b\",\"2\"\n", {"a", "1", "b", "2"}},
        {"lone carriage returns end records", "\"a\",\"1\"\r\"b\",\"2\"\r", {"a", "1", "b", "2"}},
        {"blank lines between records are skipped", "\"a\",\"1\"\r\n\r\n  \r\n\"b\",\"2\"\r\n", {"a", "1", "b", "2"}},
        {"a line end separates fields like a comma", "\"a\"\r\n\"1\"\r\n", {"a", "1"}},
        {"text after a closing quote is dropped", "\"a\"junk,\"1\" trailing\r\n\"b\",\"2\"", {"a", "1", "b", "2"}},
        {"an empty field between commas", "\"a\",,\"b\"", {"a", "", "b"}},
        {"a comma at a line's end closes an empty field", "a,\r\nb,c", {"a", "", "b", "c"}},
        {"an unterminated quote runs to the end", "\"a\",\"no end\r\nmore", {"a", "no end\r\nmore"}},
        {"a byte-order mark is ignored", "\xEF\xBB\xBF\"a\",\"1\"\r\n", {"a", "1"}},
        {"no final line end", "\"a\",\"1\"", {"a", "1"}},
        {"nothing at all", "", {}},
        {"only blank lines", "\r\n\n \r\n", {}},
        {"a lone quote", "\"", {""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AllFields(c.file), c.fields) << c.what;
    }
}

}  // namespace
}  // namespace selvatro::list
