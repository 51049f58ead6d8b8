#include "list/list_file.h"

namespace selvatro::list {

std::string Record(std::string_view path, std::string_view delay) {
    std::string record;
    record.reserve(path.size() + delay.size() + 7);
    record += '"';
    record += path;
    record += "\",\"";
    record += delay;
    record += "\"\r\n";
    return record;
}

FieldReader::FieldReader(std::string_view text) : text_(text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        pos_ = kByteOrderMark.size();
    }
}

void FieldReader::SkipBlanks() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
        ++pos_;
    }
}

void FieldReader::SkipLineEnd() {
    if (!AtEnd() && text_[pos_] == '\r') {
        ++pos_;
        if (!AtEnd() && text_[pos_] == '\n') {
            ++pos_;
        }
    } else if (!AtEnd() && text_[pos_] == '\n') {
        ++pos_;
    }
    atLineStart_ = true;
}

// Only at the start of a line: after a comma, a line end closes an empty field instead.
void FieldReader::SkipBlankLines() {
    while (atLineStart_) {
        const std::size_t lineStart = pos_;
        SkipBlanks();
        if (AtLineEnd()) {
            SkipLineEnd();
            continue;
        }
        pos_ = AtEnd() ? pos_ : lineStart;
        return;
    }
}

// Drops whatever stands before the next comma or line end, then that separator.
void FieldReader::SkipSeparator() {
    while (!AtEnd() && text_[pos_] != ',' && !AtLineEnd()) {
        ++pos_;
    }
    if (AtEnd()) {
        return;
    }
    if (text_[pos_] == ',') {
        ++pos_;
        atLineStart_ = false;
    } else {
        SkipLineEnd();
    }
}

void FieldReader::SkipRestOfLine() {
    if (atLineStart_) {
        return;
    }
    while (!AtEnd() && !AtLineEnd()) {
        ++pos_;
    }
    SkipLineEnd();
}

std::optional<std::string> FieldReader::Next() {
    SkipBlankLines();
    SkipBlanks();
    if (AtEnd()) {
        return std::nullopt;
    }
    std::string field;
    if (text_[pos_] == '"') {
        const std::size_t close = text_.find('"', pos_ + 1);
        const std::size_t end = close == std::string_view::npos ? text_.size() : close;
        field = text_.substr(pos_ + 1, end - pos_ - 1);
        pos_ = close == std::string_view::npos ? text_.size() : close + 1;
    } else {
        const std::size_t start = pos_;
        while (!AtEnd() && text_[pos_] != ',' && !AtLineEnd()) {
            ++pos_;
        }
        field = text_.substr(start, pos_ - start);
        const std::size_t last = field.find_last_not_of(" \t");
        field.erase(last == std::string::npos ? 0 : last + 1);
    }
    SkipSeparator();
    return field;
}

}  // namespace selvatro::list
