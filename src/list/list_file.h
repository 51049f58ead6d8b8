#pragma once

// The list file: five records, one per row, each `"path","delay"` followed by CR LF, with no escape of any kind.
// The reader is field-oriented and forgiving, so that a hand-edited file loads as far as it makes sense.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace selvatro::list {

/// The name of the list file inside the executable's folder.
inline constexpr std::string_view kListFileName = "selvatro.cfg";

/// One record as the writer puts it in the file, line end included.
std::string Record(std::string_view path, std::string_view delay);

/// Reads the fields of a list file one after another.
///
/// A quoted field runs to the next double quote, commas, blanks and line ends included; whatever follows the
/// closing quote up to the next comma or line end is dropped with that separator. An unquoted field runs to the
/// next comma or line end, its surrounding blanks trimmed. CR LF, a lone LF and a lone CR each end a line, and a
/// line end separates two fields just as a comma does. Blank lines between records are skipped, and a byte-order
/// mark at the very start is ignored.
class FieldReader {
public:
    explicit FieldReader(std::string_view text);

    /// The next field, or nothing once the text is used up.
    std::optional<std::string> Next();

    /// Drops whatever is left of the current line, so that the next field is the first of the next line; does
    /// nothing where the last field ended its line.
    void SkipRestOfLine();

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    bool AtLineEnd() const { return !AtEnd() && (text_[pos_] == '\r' || text_[pos_] == '\n'); }
    void SkipBlanks();
    void SkipLineEnd();
    void SkipBlankLines();
    void SkipSeparator();

    std::string_view text_;
    std::size_t pos_ = 0;
    bool atLineStart_ = true;
};

}  // namespace selvatro::list
