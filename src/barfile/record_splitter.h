#pragma once
// Decoded text split into records and fields as RFC 4180 reads them (quotes,
// doubled quotes, delimiters and line breaks inside quotes), with CR, LF or
// CRLF line ends.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vlmstruct {

// ' ' stands for runs of spaces and tabs.
constexpr char kWhiteSpace = ' ';

// A field of a record: unquoted, with unquoted fields trimmed of surrounding
// blanks. The text lives in the record's input or in the splitter.
struct FieldView {
    std::string_view text;
    bool quoted = false;
};

struct RecordView {
    std::size_t line = 0;            // where the record starts, from 1
    std::size_t begin = 0, end = 0;  // its text in the input, without the line end
    std::vector<FieldView> fields;
    [[nodiscard]] bool blank() const;  // only delimiters and white space
};

// Splits text into records one at a time, so that a file can be read in
// pieces: the text handed over may end inside a record, and the splitter then
// asks for more (the record is split again from its start once there is).
class RecordSplitter {
public:
    RecordSplitter(char delimiter, const std::string& name) : delimiter_(delimiter), name_(name) {
        for (const char c : {'\r', '\n', delimiter}) stops_[static_cast<unsigned char>(c)] = true;
        if (delimiter == kWhiteSpace) stops_['\t'] = true;
    }

    enum class Result { Record, NeedMore, End };
    // The record at text[pos, ...) starting on line `line`; `last` when text
    // runs to the end of the input. On Record, pos and line are past it; on
    // NeedMore they are left as they were. Malformed quoting throws.
    Result next(std::string_view text, std::size_t& pos, std::size_t& line, bool last, RecordView& record);

private:
    char delimiter_;
    std::array<bool, 256> stops_{};  // the characters that end an unquoted field
    const std::string& name_;
    std::string unquoted_;  // quoted fields with doubled quotes, undone
};

// Where the physical line starting at `at` ends (before its CR, LF or CRLF),
// and where the next one starts.
std::pair<std::size_t, std::size_t> lineAt(std::string_view text, std::size_t at);

// The delimiter a header line uses: the most frequent of comma, tab and
// semicolon outside quotes, else white space.
char delimiterOf(std::string_view headerLine);
std::string describeDelimiter(char d);

}  // namespace vlmstruct
