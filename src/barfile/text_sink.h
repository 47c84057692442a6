#pragma once
// The text of the files vlmstruct writes, made in large pieces, and the JSON
// spellings of strings and numbers.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "barfile/bar_file.h"
#include "barfile/float_text.h"

namespace vlmstruct {

// Text made in large pieces: gathered in a buffer of its own, with numbers
// formatted straight into it, and handed on each time a megabyte has
// gathered (to a file, or to a string), so that a long output is never held
// whole in memory. Writers call written() after each row or object, and
// flush() at the end.
class TextSink {
public:
    explicit TextSink(std::string& into);
    // `name` is the destination that messages name.
    TextSink(std::FILE* file, std::string name);
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    void put(char c) {
        room(1);
        *end_++ = c;
    }
    void put(std::string_view s) {
        room(s.size());
        end_ = std::copy(s.begin(), s.end(), end_);  // an empty view may have no data
    }
    // Room for `n` characters at the end, for a writer that makes its text
    // in place; took() then takes what it wrote, up to `end`.
    char* space(std::size_t n) {
        room(n);
        return end_;
    }
    void took(char* end) { end_ = end; }
    // Text already made, however long, handed on as it is.
    void putBlock(std::string_view s);
    void putFloat(float v);  // formatFloat's text
    void putInt(long long v);
    // A JSON number (null for NaN and infinities) and string, as jsonNumber
    // and jsonString write them.
    void putJsonNumber(float v);
    void putJsonNumber(double v);
    void putJsonString(std::string_view s);
    // The bar's date, "" without dates.
    void putDate(const BarSeries& bars, std::size_t bar);

    void written() {
        if (static_cast<std::size_t>(end_ - buffer_.get()) >= kFlushAt) flush();
    }
    // Hands on what has gathered. Throws, naming the destination, when a file
    // cannot take it.
    void flush();

private:
    static constexpr std::size_t kFlushAt = std::size_t{64} << 10;
    void room(std::size_t n) {
        if (static_cast<std::size_t>(limit_ - end_) < n) grow(n);
    }
    void grow(std::size_t n);

    std::unique_ptr<char[]> buffer_;
    char* end_ = nullptr;
    char* limit_ = nullptr;
    std::string* string_ = nullptr;
    std::FILE* file_ = nullptr;
    std::string name_;
};

// A JSON string literal (also safe inside an HTML script element).
std::string jsonString(const std::string& s);
// A JSON number; JSON has no NaN or infinity, so those are written as null.
std::string jsonNumber(float v);
// Doubles (forces, ratios) in the shortest text that reads back the same.
std::string jsonNumber(double v);

}  // namespace vlmstruct
