#pragma once
// Event descriptions made at a buffer the caller holds, so that a writer of
// millions of events allocates nothing for their text.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vlm {

// Room for any event's description. The longest, a pivot's close with every
// bar and bound at its widest ("pivot under way [-2147483648, -2147483648]
// closed, retained (-1.17549435e-38 to ..., falling)"), is under 120.
inline constexpr std::size_t kEventTextSize = 192;

class EventText {
public:
    explicit EventText(char* out) : end_(out) {}

    EventText& text(std::string_view s) {
        std::memcpy(end_, s.data(), s.size());
        end_ += s.size();
        return *this;
    }
    // As std::to_string writes it.
    EventText& integer(std::int64_t v) {
        end_ = std::to_chars(end_, end_ + 20, v).ptr;
        return *this;
    }
    // The shortest text that reads back as the same float.
    EventText& number(float v) {
        end_ = std::to_chars(end_, end_ + 32, v).ptr;
        return *this;
    }
    [[nodiscard]] char* end() const { return end_; }

private:
    char* end_;
};

}  // namespace vlm
