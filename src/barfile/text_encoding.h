#pragma once
// The bytes of a bar file decoded to UTF-8: UTF-8 with or without its
// byte-order mark, UTF-16 with it, anything else taken for GBK.

#include <cstddef>
#include <string>
#include <string_view>

namespace vlmstruct {

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

}  // namespace vlmstruct
