#include "delimited_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace vlmstruct {

namespace {

bool validUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c >> 5) == 0x6) {
            extra = 1;
        } else if ((c >> 4) == 0xE) {
            extra = 2;
        } else if ((c >> 3) == 0x1E) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= s.size() + (extra == 0 ? 1 : 0)) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
        }
        i += extra + 1;
    }
    return true;
}

// `complaint` is what the bytes are not, should they fail to convert.
std::string convert(const std::string& in, std::size_t skipped, const char* from, const std::string& name,
                    const std::string& complaint) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw BarFileError(name + ": cannot decode " + std::string(from) + " here");
    }
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
    // A single GBK byte can take three of UTF-8 (0x80 is the euro sign), so
    // the output grows whenever it is full rather than being sized up front.
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t written = 0;
    std::size_t rc = 0;
    for (;;) {
        char* dst = out.data() + written;
        std::size_t dstLeft = out.size() - written;
        rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        written = out.size() - dstLeft;
        if (rc != static_cast<std::size_t>(-1) || errno != E2BIG) break;
        out.resize(out.size() * 2);
    }
    if (rc == static_cast<std::size_t>(-1)) {
        throw BarFileError(name + ": " + complaint + " (byte " + std::to_string(skipped + in.size() - srcLeft + 1) +
                           ")");
    }
    out.resize(written);
    return out;
}

bool blankChar(char c, char delimiter) { return c == ' ' || (c == '\t' && delimiter != '\t'); }

std::size_t utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
}

}  // namespace

DecodedText decodeText(std::string bytes, const std::string& name) {
    DecodedText d;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        bytes.erase(0, 3);
        if (!validUtf8(bytes)) convert(bytes, 3, "UTF-8", name, "not valid UTF-8 after its byte-order mark");
        d = {std::move(bytes), "UTF-8"};
    } else if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
        const char* encoding = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        if (bytes.size() % 2 != 0) {
            throw BarFileError(name + ": " + encoding + " text with an odd number of bytes (cut short?)");
        }
        d = {convert(bytes.substr(2), 2, encoding, name, std::string("not valid ") + encoding), encoding};
    } else if (validUtf8(bytes)) {
        d = {std::move(bytes), "UTF-8"};
    } else {
        d = {convert(bytes, 0, "GBK", name, "neither UTF-8 nor GBK text"), "GBK"};
    }
    const auto nul = d.utf8.find('\0');
    if (nul != std::string::npos) {
        throw BarFileError(name + ": a NUL character at byte " + std::to_string(nul + 1) +
                           " of the " + d.encoding +
                           " text: not a text file, or UTF-16 without a byte-order mark");
    }
    return d;
}

bool Record::blank() const {
    return std::all_of(fields.begin(), fields.end(), [](const Field& f) {
        return f.text.find_first_not_of(" \t") == std::string::npos;
    });
}

std::pair<std::size_t, std::size_t> lineAt(std::string_view text, std::size_t at) {
    const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    std::size_t next = end;
    if (next < text.size()) next += text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n' ? 2 : 1;
    return {end, next};
}

std::vector<Record> splitRecords(std::string_view text, std::size_t from, std::size_t line, char delimiter,
                                 const std::string& name) {
    std::vector<Record> records;
    const std::size_t n = text.size();
    std::size_t pos = from;
    const bool white = delimiter == kWhiteSpace;
    auto isDelimiter = [&](char c) { return white ? (c == ' ' || c == '\t') : c == delimiter; };
    auto lineEnd = [&](std::size_t p) { return p >= n || text[p] == '\r' || text[p] == '\n'; };
    while (pos < n) {
        Record record;
        record.line = line;
        record.begin = pos;
        if (white) {
            while (pos < n && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        }
        while (true) {
            Field field;
            while (pos < n && blankChar(text[pos], delimiter)) ++pos;
            if (pos < n && text[pos] == '"') {
                field.quoted = true;
                const std::size_t openedOn = line;
                ++pos;
                while (true) {
                    if (pos >= n) {
                        throw BarFileError(name + ":" + std::to_string(openedOn) + ":" +
                                           std::to_string(record.fields.size() + 1) +
                                           ": a quote opened here is never closed");
                    }
                    const char c = text[pos];
                    if (c == '"') {
                        if (pos + 1 < n && text[pos + 1] == '"') {
                            field.text += '"';
                            pos += 2;
                            continue;
                        }
                        ++pos;
                        break;
                    }
                    if (c == '\n' || (c == '\r' && !(pos + 1 < n && text[pos + 1] == '\n'))) ++line;
                    field.text += c;
                    ++pos;
                }
                while (pos < n && blankChar(text[pos], delimiter)) ++pos;
                if (!lineEnd(pos) && !isDelimiter(text[pos])) {
                    const auto [stop, next] = lineAt(text, pos);
                    (void)next;
                    throw BarFileError(name + ":" + std::to_string(line) + ":" +
                                       std::to_string(record.fields.size() + 1) +
                                       ": text after a closing quote: '" +
                                       excerpt(text.substr(pos, stop - pos)) + "'");
                }
            } else {
                const std::size_t start = pos;
                while (!lineEnd(pos) && !isDelimiter(text[pos])) ++pos;
                std::size_t stop = pos;
                while (stop > start && blankChar(text[stop - 1], delimiter)) --stop;
                field.text.assign(text.substr(start, stop - start));
            }
            record.fields.push_back(std::move(field));
            if (white) {
                while (pos < n && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
                if (lineEnd(pos)) break;
            } else {
                if (lineEnd(pos)) break;
                ++pos;  // the delimiter
            }
        }
        record.end = pos;
        if (pos < n) pos = lineAt(text, pos).second;
        ++line;
        records.push_back(std::move(record));
    }
    return records;
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

std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string out;
    std::size_t shown = 0, i = 0;
    while (i < text.size() && shown < kShown) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t"
                 : std::string{'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
            ++i;
        } else {
            const std::size_t length = std::min(utf8Length(c), text.size() - i);
            out.append(text.substr(i, length));
            i += length;
        }
        ++shown;
    }
    if (i < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace vlmstruct
