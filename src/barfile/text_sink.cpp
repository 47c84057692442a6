#include "barfile/text_sink.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace vlmstruct {

TextSink::TextSink(std::string& into) : string_(&into) { grow(0); }

TextSink::TextSink(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) { grow(0); }

void TextSink::grow(std::size_t n) {
    const std::size_t used = buffer_ ? static_cast<std::size_t>(end_ - buffer_.get()) : 0;
    const std::size_t capacity = std::max(2 * kFlushAt, 2 * (used + n));
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (used > 0) std::memcpy(bigger.get(), buffer_.get(), used);
    buffer_ = std::move(bigger);
    end_ = buffer_.get() + used;
    limit_ = buffer_.get() + capacity;
}

void TextSink::putFloat(float v) {
    room(kFloatTextSize);
    end_ = writeFloat(end_, v);
}

void TextSink::putInt(long long v) {
    room(24);
    end_ = std::to_chars(end_, end_ + 24, v).ptr;  // 24 characters hold any long long
}

void TextSink::putJsonNumber(float v) {
    if (std::isfinite(v)) {
        putFloat(v);
    } else {
        put("null");
    }
}

void TextSink::putJsonNumber(double v) {
    room(32);
    const auto [end, ec] = std::to_chars(end_, end_ + 32, v);
    if (std::isfinite(v) && ec == std::errc()) {
        end_ = end;
    } else {
        put("null");
    }
}

void TextSink::putJsonString(std::string_view s) {
    // Each character takes at most six.
    room(6 * s.size() + 2);
    *end_++ = '"';
    for (char c : s) {
        switch (c) {
            case '"': *end_++ = '\\'; *end_++ = '"'; break;
            case '\\': *end_++ = '\\'; *end_++ = '\\'; break;
            case '\n': *end_++ = '\\'; *end_++ = 'n'; break;
            case '\r': *end_++ = '\\'; *end_++ = 'r'; break;
            case '\t': *end_++ = '\\'; *end_++ = 't'; break;
            case '<':  // never closes a script element it sits in
                for (char e : std::string_view("\\u003c")) *end_++ = e;
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    for (char e : std::string_view("\\u00")) *end_++ = e;
                    *end_++ = kHex[(c >> 4) & 0xF];
                    *end_++ = kHex[c & 0xF];
                } else {
                    *end_++ = c;
                }
        }
    }
    *end_++ = '"';
}

void TextSink::putDate(const BarSeries& bars, std::size_t bar) {
    if (!bars.dates.empty()) {
        put(bars.dates[bar]);
    } else if (!bars.stamps.empty()) {
        room(DateStamp::kTextSize);
        end_ = bars.stamps[bar].write(end_, bars.stampSeconds);
    }
}

void TextSink::putBlock(std::string_view s) {
    flush();
    if (string_ != nullptr) {
        string_->append(s);
    } else if (std::fwrite(s.data(), 1, s.size(), file_) != s.size()) {
        const int error = errno;
        throw std::runtime_error(name_ + ": cannot write the file: " + std::strerror(error));
    }
}

void TextSink::flush() {
    const auto used = static_cast<std::size_t>(end_ - buffer_.get());
    if (used == 0) return;
    if (string_ != nullptr) {
        string_->append(buffer_.get(), used);
    } else if (std::fwrite(buffer_.get(), 1, used, file_) != used) {
        const int error = errno;
        throw std::runtime_error(name_ + ": cannot write the file: " + std::strerror(error));
    }
    end_ = buffer_.get();
}

namespace {
// What one of the sink's writers makes of a value, as text.
template <typename Put>
std::string sinkText(Put put) {
    std::string out;
    TextSink sink(out);
    put(sink);
    sink.flush();
    return out;
}
}  // namespace

std::string jsonString(const std::string& s) {
    return sinkText([&](TextSink& sink) { sink.putJsonString(s); });
}

std::string jsonNumber(float v) {
    return sinkText([&](TextSink& sink) { sink.putJsonNumber(v); });
}

std::string jsonNumber(double v) {
    return sinkText([&](TextSink& sink) { sink.putJsonNumber(v); });
}

}  // namespace vlmstruct
