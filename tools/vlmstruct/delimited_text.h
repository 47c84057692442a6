#pragma once
// Delimited text as spreadsheets and charting software write it: the bytes
// decoded to UTF-8, then split into records and fields as RFC 4180 reads
// them (quotes, doubled quotes, delimiters and line breaks inside quotes),
// with CR, LF or CRLF line ends.

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

// ' ' stands for runs of spaces and tabs.
constexpr char kWhiteSpace = ' ';

struct Field {
    std::string text;  // unquoted; unquoted fields trimmed of surrounding blanks
    bool quoted = false;
};

struct Record {
    std::size_t line = 0;               // where the record starts, from 1
    std::size_t begin = 0, end = 0;     // its text, without the line end
    std::vector<Field> fields;
    [[nodiscard]] bool blank() const;   // only delimiters and white space
};

// The records of text[from, ...), the first starting on line `line`.
std::vector<Record> splitRecords(std::string_view text, std::size_t from, std::size_t line, char delimiter,
                                 const std::string& name);

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
