#pragma once
// Delimited text as spreadsheets and charting software write it: the bytes
// decoded to UTF-8, then split into records and fields as RFC 4180 reads
// them (quotes, doubled quotes, delimiters and line breaks inside quotes),
// with CR, LF or CRLF line ends.

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vlmstruct {

// Names the file and, where there is one, the line, the column and the text.
class BarFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DecodedText {
    std::string utf8;
    std::string encoding;  // "UTF-8", "UTF-16LE", "UTF-16BE" or "GBK"
};

// UTF-16 needs its byte-order mark; UTF-8 may have one; anything else that
// is not UTF-8 is taken for GBK. Text with NUL characters is refused.
DecodedText decodeText(std::string bytes, const std::string& name);

// UTF-8 checked piece by piece, as a file is read: a sequence may be split
// between two pieces. The same rules as decodeText applies.
class Utf8Check {
public:
    void feed(std::string_view piece);
    // After the last piece: every sequence well formed (no overlong form, no
    // surrogate, nothing past U+10FFFF) and complete. GBK text often holds
    // pairs that only an overlong form would make UTF-8 ("\xC0\xB4").
    [[nodiscard]] bool valid() const { return valid_ && pending_ == 0; }
    // A sequence fed so far is malformed: valid() stays false whatever follows.
    [[nodiscard]] bool broken() const { return !valid_; }
    // Offset of the first NUL byte fed, or npos.
    [[nodiscard]] std::size_t firstNul() const { return firstNul_; }
    // Offset of the first byte fed that is not well-formed UTF-8 (a lone
    // continuation, a bad lead, or a sequence cut short by it), or npos; a
    // sequence the text ends in the middle of is not counted.
    [[nodiscard]] std::size_t brokenAt() const { return brokenAt_; }

private:
    // Past the whole ASCII words of piece from i (noting any NUL among them).
    std::size_t skipAscii(std::string_view piece, std::size_t i);

    bool valid_ = true;
    unsigned pending_ = 0;  // continuation bytes still owed by the last lead byte
    // What the next continuation byte may be: narrower after some leads.
    unsigned char low_ = 0x80, high_ = 0xBF;
    std::size_t fed_ = 0;
    std::size_t firstNul_ = std::string_view::npos;
    std::size_t brokenAt_ = std::string_view::npos;
};

// The message decodeText gives for a NUL at `offset` of text in `encoding`.
[[noreturn]] void refuseNul(const std::string& name, std::size_t offset, const std::string& encoding);

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

// Offending text as a message shows it: at most 60 characters, control
// characters escaped, so that no input can flood or steer a terminal.
std::string excerpt(std::string_view text);

}  // namespace vlmstruct
