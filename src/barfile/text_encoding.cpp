#include "barfile/text_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "barfile/bar_file_error.h"

namespace vlmstruct {

namespace {

// Where UTF-8 first breaks, for a message: the first byte that is not well
// formed, or the lead of a sequence the text cuts short.
std::string utf8Break(const std::string& s) {
    Utf8Check check;
    check.feed(s);
    std::size_t at = check.brokenAt();
    if (at == std::string::npos) {
        at = s.size();
        while (at > 0 && (static_cast<unsigned char>(s[at - 1]) & 0xC0) == 0x80) --at;
        at = at > 0 ? at - 1 : 0;
    }
    return std::to_string(at + 1);
}

bool validUtf8(const std::string& s) {
    Utf8Check check;
    check.feed(s);
    return check.valid();
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
        // Both places tell the user where to look: where it stops being
        // UTF-8 (byte M), and where it stops being GBK (the byte convert names).
        const std::string complaint = "neither UTF-8 (broken at byte " + utf8Break(bytes) + ") nor GBK text";
        d = {convert(bytes, 0, "GBK", name, complaint), "GBK"};
    }
    const auto nul = d.utf8.find('\0');
    if (nul != std::string::npos) refuseNul(name, nul, d.encoding);
    return d;
}

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL, kLowBits = 0x0101010101010101ULL;

std::uint64_t word(const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
}

// Some byte of an ASCII word is zero.
bool holdsZero(std::uint64_t w) { return ((w - kLowBits) & ~w & kHighBits) != 0; }

}  // namespace

std::size_t Utf8Check::skipAscii(std::string_view piece, std::size_t i) {
    const char* const data = piece.data();
    const std::size_t n = piece.size();
    // Four words at a time while no NUL has been seen, the most common case.
    if (firstNul_ == std::string_view::npos) {
        for (; i + 32 <= n; i += 32) {
            const std::uint64_t a = word(data + i), b = word(data + i + 8), c = word(data + i + 16),
                                d = word(data + i + 24);
            if (((a | b | c | d) & kHighBits) != 0) break;
            if (holdsZero(a) || holdsZero(b) || holdsZero(c) || holdsZero(d)) {
                firstNul_ = fed_ + i + piece.substr(i, 32).find('\0');
                i += 32;
                break;
            }
        }
    }
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t w = word(data + i);
        if ((w & kHighBits) != 0) break;
        if (firstNul_ == std::string_view::npos && holdsZero(w)) firstNul_ = fed_ + i + piece.substr(i, 8).find('\0');
    }
    return i;
}

void Utf8Check::feed(std::string_view piece) {
    const std::size_t n = piece.size();
    std::size_t i = 0;
    while (i < n && valid_) {
        if (pending_ == 0) {
            i = skipAscii(piece, i);
            if (i == n) break;
        }
        const auto c = static_cast<unsigned char>(piece[i]);
        if (pending_ > 0) {
            if (c < low_ || c > high_) valid_ = false;
            low_ = 0x80;
            high_ = 0xBF;
            --pending_;
        } else if (c < 0x80) {
            if (c == 0 && firstNul_ == std::string_view::npos) firstNul_ = fed_ + i;
        } else if (c >= 0xC2 && c <= 0xDF) {
            pending_ = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            // No overlong form (E0 80..9F) and no surrogate (ED A0..BF).
            pending_ = 2;
            low_ = c == 0xE0 ? 0xA0 : 0x80;
            high_ = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            // No overlong form (F0 80..8F) and nothing past U+10FFFF (F4 90..).
            pending_ = 3;
            low_ = c == 0xF0 ? 0x90 : 0x80;
            high_ = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            valid_ = false;  // a lone continuation, an overlong lead (C0, C1) or F5..FF
        }
        if (!valid_) brokenAt_ = fed_ + i;
        ++i;
    }
    fed_ += n;
}

void refuseNul(const std::string& name, std::size_t offset, const std::string& encoding) {
    throw BarFileError(name + ": a NUL character at byte " + std::to_string(offset + 1) + " of the " + encoding +
                       " text: not a text file, or UTF-16 without a byte-order mark");
}

}  // namespace vlmstruct
