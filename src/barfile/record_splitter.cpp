#include "barfile/record_splitter.h"

#include <algorithm>
#include <cstdint>

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
}  // namespace

RecordSplitter::Result RecordSplitter::next(std::string_view text, std::size_t& at, std::size_t& atLine, bool last,
                                            RecordView& record) {
    const std::size_t n = text.size();
    if (at >= n) return last ? Result::End : Result::NeedMore;
    std::size_t pos = at, line = atLine;
    const char delimiter = delimiter_;
    const bool white = delimiter == kWhiteSpace;
    // Past the text: the end of the input, or of what was handed over so far.
    auto beyond = [&](std::size_t p) {
        if (p < n) return false;
        if (!last) throw TextEndsEarly{};
        return true;
    };
    auto isDelimiter = [&](char c) { return white ? (c == ' ' || c == '\t') : c == delimiter; };
    auto lineEnd = [&](std::size_t p) { return beyond(p) || text[p] == '\r' || text[p] == '\n'; };
    auto blank = [&](char c) { return c == ' ' || (c == '\t' && delimiter != '\t'); };
    try {
        record.line = line;
        record.begin = pos;
        record.fields.clear();
        unquoted_.clear();
        if (white) {
            while (!beyond(pos) && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        }
        while (true) {
            FieldView field;
            while (!beyond(pos) && blank(text[pos])) ++pos;
            if (!beyond(pos) && text[pos] == '"') {
                field.quoted = true;
                const std::size_t openedOn = line;
                ++pos;
                const std::size_t start = pos;
                std::size_t copied = std::string::npos;  // where in unquoted_ once a doubled quote is seen
                while (true) {
                    if (beyond(pos)) {
                        throw BarFileError(name_ + ":" + std::to_string(openedOn) + ":" +
                                           std::to_string(record.fields.size() + 1) +
                                           ": a quote opened here is never closed");
                    }
                    const char c = text[pos];
                    if (c == '"') {
                        if (!beyond(pos + 1) && text[pos + 1] == '"') {
                            if (copied == std::string::npos) {
                                // Never reallocated within a record, since the fields
                                // point into it: room for the rest of the text at its
                                // first use (most records never use it).
                                if (unquoted_.empty() && unquoted_.capacity() < n - start) unquoted_.reserve(n - start);
                                copied = unquoted_.size();
                                unquoted_.append(text.substr(start, pos - start));
                            }
                            unquoted_ += '"';
                            pos += 2;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n' || (c == '\r' && !(!beyond(pos + 1) && text[pos + 1] == '\n'))) ++line;
                    if (copied != std::string::npos) unquoted_ += c;
                    ++pos;
                }
                field.text = copied == std::string::npos
                                 ? text.substr(start, pos - start)
                                 : std::string_view(unquoted_).substr(copied);
                ++pos;  // the closing quote
                while (!beyond(pos) && blank(text[pos])) ++pos;
                if (!lineEnd(pos) && !isDelimiter(text[pos])) {
                    const std::size_t stop = lineAt(text, pos).first;
                    beyond(stop);  // the whole line is shown
                    throw BarFileError(name_ + ":" + std::to_string(line) + ":" +
                                       std::to_string(record.fields.size() + 1) +
                                       ": text after a closing quote: '" + excerpt(text.substr(pos, stop - pos)) +
                                       "'");
                }
            } else {
                const std::size_t start = pos;
                while (pos < n && !stops_[static_cast<unsigned char>(text[pos])]) ++pos;
                beyond(pos);
                std::size_t stop = pos;
                while (stop > start && blank(text[stop - 1])) --stop;
                field.text = text.substr(start, stop - start);
            }
            record.fields.push_back(field);
            if (white) {
                while (!beyond(pos) && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
                if (lineEnd(pos)) break;
            } else {
                if (lineEnd(pos)) break;
                ++pos;  // the delimiter
            }
        }
        record.end = pos;
        if (pos < n) {
            // CR LF is one line end: the LF must be in the text to tell.
            if (text[pos] == '\r') beyond(pos + 1);
            pos = lineAt(text, pos).second;
        }
    } catch (const TextEndsEarly&) {
        return Result::NeedMore;
    }
    at = pos;
    atLine = line + 1;
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
