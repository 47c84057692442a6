#include "barfile/record_splitter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "barfile/bar_file_error.h"

namespace vlmstruct {

bool RecordView::blank() const {
    return std::all_of(fields.begin(), fields.end(), [](const FieldView& f) {
        for (char c : f.text) {
            if (c != ' ' && c != '\t') return false;
        }
        return true;
    });
}

std::pair<std::size_t, std::size_t> lineAt(std::string_view text, std::size_t at) {
    const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    std::size_t next = end;
    if (next < text.size()) next += text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n' ? 2 : 1;
    return {end, next};
}

namespace {

// The text handed to the splitter ended inside a record.
struct TextEndsEarly {};

// Where the splitter is in the text handed over, and the rules of its
// delimiter.
struct Cursor {
    std::string_view text;
    bool last;  // the text runs to the end of the input
    char delimiter;
    std::size_t pos, line;

    [[nodiscard]] bool white() const { return delimiter == kWhiteSpace; }
    // Past the text: the end of the input, or of what was handed over so far.
    bool beyond(std::size_t p) const {
        if (p < text.size()) return false;
        if (!last) throw TextEndsEarly{};
        return true;
    }
    [[nodiscard]] bool isDelimiter(char c) const { return white() ? (c == ' ' || c == '\t') : c == delimiter; }
    [[nodiscard]] bool lineEnd(std::size_t p) const { return beyond(p) || text[p] == '\r' || text[p] == '\n'; }
    // What is trimmed from an unquoted field.
    [[nodiscard]] bool blank(char c) const { return c == ' ' || (c == '\t' && delimiter != '\t'); }
    void skipBlanks() {
        while (!beyond(pos) && blank(text[pos])) ++pos;
    }
    void skipWhiteSpace() {
        while (!beyond(pos) && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    }
};

// The unquoted field at the cursor, up to the first of `stops`, without the
// blanks around it.
std::string_view unquotedField(Cursor& at, const std::array<bool, 256>& stops) {
    const std::string_view text = at.text;
    const std::size_t start = at.pos;
    std::size_t pos = start;
    while (pos < text.size() && !stops[static_cast<unsigned char>(text[pos])]) ++pos;
    at.beyond(pos);
    at.pos = pos;
    std::size_t stop = pos;
    while (stop > start && at.blank(text[stop - 1])) --stop;
    return text.substr(start, stop - start);
}

// The quoted field whose opening quote is at the cursor, the `number`th of
// its record: its text in the input, or in `unquoted` once a doubled quote is
// undone. The cursor is left after the blanks past its closing quote.
std::string_view quotedField(Cursor& at, std::string& unquoted, const std::string& name, std::size_t number) {
    const std::string_view text = at.text;
    const std::size_t n = text.size();
    const std::size_t openedOn = at.line;
    std::size_t pos = at.pos + 1;
    const std::size_t start = pos;
    std::size_t copied = std::string::npos;  // where in unquoted once a doubled quote is seen
    while (true) {
        if (at.beyond(pos)) {
            throw BarFileError(name + ":" + std::to_string(openedOn) + ":" + std::to_string(number) +
                               ": a quote opened here is never closed");
        }
        const char c = text[pos];
        if (c == '"') {
            if (!at.beyond(pos + 1) && text[pos + 1] == '"') {
                if (copied == std::string::npos) {
                    // Never reallocated within a record, since the fields
                    // point into it: room for the rest of the text at its
                    // first use (most records never use it).
                    if (unquoted.empty() && unquoted.capacity() < n - start) unquoted.reserve(n - start);
                    copied = unquoted.size();
                    unquoted.append(text.substr(start, pos - start));
                }
                unquoted += '"';
                pos += 2;
                continue;
            }
            break;
        }
        if (c == '\n' || (c == '\r' && !(!at.beyond(pos + 1) && text[pos + 1] == '\n'))) ++at.line;
        if (copied != std::string::npos) unquoted += c;
        ++pos;
    }
    const std::string_view field =
        copied == std::string::npos ? text.substr(start, pos - start) : std::string_view(unquoted).substr(copied);
    at.pos = pos + 1;  // the closing quote
    at.skipBlanks();
    if (!at.lineEnd(at.pos) && !at.isDelimiter(text[at.pos])) {
        const std::size_t stop = lineAt(text, at.pos).first;
        at.beyond(stop);  // the whole line is shown
        throw BarFileError(name + ":" + std::to_string(at.line) + ":" + std::to_string(number) +
                           ": text after a closing quote: '" + excerpt(text.substr(at.pos, stop - at.pos)) + "'");
    }
    return field;
}

}  // namespace

RecordSplitter::Result RecordSplitter::next(std::string_view text, std::size_t& at, std::size_t& atLine, bool last,
                                            RecordView& record) {
    if (at >= text.size()) return last ? Result::End : Result::NeedMore;
    Cursor cursor{text, last, delimiter_, at, atLine};
    try {
        record.line = atLine;
        record.begin = at;
        record.fields.clear();
        unquoted_.clear();
        if (cursor.white()) cursor.skipWhiteSpace();
        while (true) {
            FieldView field;
            cursor.skipBlanks();
            if (!cursor.beyond(cursor.pos) && text[cursor.pos] == '"') {
                field.quoted = true;
                field.text = quotedField(cursor, unquoted_, name_, record.fields.size() + 1);
            } else {
                field.text = unquotedField(cursor, stops_);
            }
            record.fields.push_back(field);
            if (cursor.white()) cursor.skipWhiteSpace();
            if (cursor.lineEnd(cursor.pos)) break;
            if (!cursor.white()) ++cursor.pos;  // the delimiter
        }
        record.end = cursor.pos;
        if (cursor.pos < text.size()) {
            // CR LF is one line end: the LF must be in the text to tell.
            if (text[cursor.pos] == '\r') cursor.beyond(cursor.pos + 1);
            cursor.pos = lineAt(text, cursor.pos).second;
        }
    } catch (const TextEndsEarly&) {
        return Result::NeedMore;
    }
    at = cursor.pos;
    atLine = cursor.line + 1;
    return Result::Record;
}

char delimiterOf(std::string_view header) {
    std::size_t counts[3] = {0, 0, 0};
    const char candidates[3] = {',', '\t', ';'};
    bool quoted = false;
    for (char c : header) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        for (int k = 0; k < 3; ++k) counts[k] += c == candidates[k];
    }
    char best = kWhiteSpace;
    std::size_t most = 0;
    for (int k = 0; k < 3; ++k) {
        if (counts[k] > most) {
            most = counts[k];
            best = candidates[k];
        }
    }
    return best;
}

std::string describeDelimiter(char d) {
    return d == ',' ? "commas" : d == '\t' ? "tabs" : d == ';' ? "semicolons" : d == kWhiteSpace ? "white space"
                                                                               : "'" + excerpt({&d, 1}) + "'";
}

}  // namespace vlmstruct
