#pragma once
// Event descriptions made at a buffer the caller holds, so that a writer of
// millions of events allocates nothing for their text.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vlm {

// Room for any event's description. The longest, a pivot's close with every
// bar and bound at its widest ("pivot under way [-2147483648, -2147483648]
// closed, retained (-3.4028235e+38 to -3.4028235e+38, falling)"), is 105.
inline constexpr std::size_t kEventTextSize = 192;

// Where an event's float numbers are written: std::to_chars's shortest text,
// or a writer's faster route to that same text.
class FloatText {
public:
    virtual ~FloatText() = default;
    // std::to_chars's shortest text of `v` at `out` (room for 32); returns its end.
    virtual char* write(char* out, float v) = 0;

protected:
    FloatText() = default;
    FloatText(const FloatText&) = default;
    FloatText& operator=(const FloatText&) = default;
};

class EventText {
public:
    explicit EventText(char* out, FloatText* floats = nullptr) : end_(out), floats_(floats) {}

    EventText& text(std::string_view s) {
        end_ = std::copy(s.begin(), s.end(), end_);  // an empty view may have no data
        return *this;
    }
    // As std::to_string writes it.
    EventText& integer(std::int64_t v) {
        end_ = std::to_chars(end_, end_ + 20, v).ptr;
        return *this;
    }
    // The shortest text that reads back as the same float.
    EventText& number(float v) {
        end_ = floats_ != nullptr ? floats_->write(end_, v) : std::to_chars(end_, end_ + 32, v).ptr;
        return *this;
    }
    [[nodiscard]] char* end() const { return end_; }

private:
    char* end_;
    FloatText* floats_;
};

}  // namespace vlm
