#include "barfile/bar_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <memory>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "barfile/bar_columns.h"
#include "barfile/date_order.h"
#include "barfile/price_checks.h"
#include "barfile/record_splitter.h"
#include "barfile/text_blanks.h"
#include "barfile/text_encoding.h"

namespace vlmstruct {

void BarSeries::appendDate(std::string& out, std::size_t bar) const {
    if (!dates.empty()) {
        out += dates[bar];
    } else if (!stamps.empty()) {
        const DateTime d = stamps[bar].dateTime();
        appendDateText(out, d, stampSeconds);
    }
}

std::string BarSeries::date(std::size_t bar) const {
    if (!dates.empty()) return dates[bar];
    std::string out;
    appendDate(out, bar);
    return out;
}

namespace {

// 1,234,567 or 1,234.5: groups of three digits after the first.
bool thousandsGrouped(std::string_view s) {
    if (!s.empty() && s[0] == '-') s.remove_prefix(1);
    const auto point = s.find('.');
    std::string_view whole = s.substr(0, point);
    const auto first = whole.find(',');
    if (first == std::string_view::npos || first == 0 || first > 3) return false;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const bool separatorHere = i >= first && (i - first) % 4 == 0;
        if (separatorHere ? whole[i] != ',' : (whole[i] < '0' || whole[i] > '9')) return false;
    }
    return (whole.size() - first) % 4 == 0;
}

enum class Number { Ok, Empty, NotANumber, OutOfRange };

// Prices as files mostly write them, -?DIGITS[.DIGITS] with at most seven
// significant digits, rounded once to the nearest float as from_chars does.
// The digits are a whole number below 10^7 and k decimals at most ten: such
// a decimal is never a midpoint between two floats, and its double product
// with 10^-k rounds to the float the quotient rounds to (for k up to 8
// because the product strays less, a relative 2^-52, than the decimal lies
// from any midpoint, at least 2^-25 * 10^-k; for every such number and k
// up to 10 by trying them all). No division is needed.
constexpr double kInverseTens[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8, 1e-9, 1e-10};

float shortDecimal(std::uint32_t digits, std::size_t decimals, bool negative) {
    const auto magnitude = static_cast<float>(static_cast<double>(digits) * kInverseTens[decimals]);
    return negative ? -magnitude : magnitude;
}

// The bytes below byte n of a word, and the factor that moves the n lowest
// bytes to its top (a shift, as a product cheaper than one by a variable).
constexpr std::array<std::uint64_t, 9> kBytesBelow = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF,
                                                      0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, ~std::uint64_t{0}};
constexpr std::array<std::uint64_t, 9> kToTop = {0,        1ULL << 56, 1ULL << 48, 1ULL << 40, 1ULL << 32,
                                                 1ULL << 24, 1ULL << 16, 1ULL << 8,  1};

// Text of one to eight bytes held in `word`, its first byte lowest (the
// bytes past `length` may be anything), in the form -?DIGITS[.DIGITS]:
// checked without a branch per character and left as its eight digits,
// the first one highest, '0's above the text's own, with its sign and its
// count of decimals. False for any other text.
struct ShortDigits {
    std::uint64_t word;  // eight ASCII digits
    std::size_t decimals;
    bool negative;
};
[[gnu::always_inline]] inline bool shortDecimalShape(std::uint64_t word, std::size_t length, ShortDigits& out) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kZeros = 0x3030303030303030ULL;
    const bool negative = (word & 0xFF) == '-';
    if (negative) {
        word >>= 8;
        --length;
    }
    if (length == 0) return false;
    // The high bit of the first point's byte, and of none before it (a
    // borrow only reaches the bytes after a point).
    const std::uint64_t x = word ^ (kOnes * '.');
    const std::uint64_t point = (x - kOnes) & ~x & (kOnes * 0x80) & kBytesBelow[length];
    std::size_t digitCount = length, decimals = 0;
    if (point != 0) {
        const auto at = static_cast<std::size_t>(std::countr_zero(point)) / 8;
        if (at == 0 || at + 1 == length) return false;  // .5 or 5.
        decimals = length - 1 - at;
        // A second point stays among the digits, and is refused with them.
        word = (word & kBytesBelow[at]) | ((word >> 8) & ~kBytesBelow[at]);
        --digitCount;
    }
    // The digits at the top of the word and '0's below: eight digits, the
    // first one highest.
    word = word * kToTop[digitCount] + (kZeros & kBytesBelow[8 - digitCount]);
    constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ULL;
    if (((word & kHighNibbles) | (((word + kOnes * 6) & kHighNibbles) >> 4)) != kOnes * 0x33) return false;
    out = {word, decimals, negative};
    return true;
}

// The short rule for such text.
[[gnu::always_inline]] inline bool readShortDecimalWord(std::uint64_t word, std::size_t length, float& value) {
    ShortDigits d{};
    if (!shortDecimalShape(word, length, d)) return false;
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;
    word = d.word - kZeros;
    word = word * 10 + (word >> 8);
    constexpr std::uint64_t kPairs = 0x000000FF000000FFULL;
    word = (((word & kPairs) * 0x000F424000000064ULL) + (((word >> 16) & kPairs) * 0x0000271000000001ULL)) >> 32;
    const auto digits = static_cast<std::uint32_t>(word);
    if (digits >= 10000000) return false;  // more than seven significant digits
    value = shortDecimal(digits, d.decimals, d.negative);
    return true;
}

// The same rule a character at a time, for any length.
bool readShortDecimalText(std::string_view text, float& value) {
    if (text.empty()) return false;
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = *p == '-';
    if (negative) ++p;
    const char* const whole = p;
    std::uint32_t digits = 0;
    int significant = 0;
    // Leading zeros are not significant: 0.000123 has three digits.
    auto readDigits = [&]() {
        for (; p < end; ++p) {
            const auto d = static_cast<unsigned>(*p - '0');
            if (d > 9) break;
            digits = digits * 10 + d;
            if (digits > 0 && ++significant > 7) return false;
        }
        return true;
    };
    if (!readDigits() || p == whole) return false;
    std::size_t decimals = 0;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        if (!readDigits()) return false;
        decimals = static_cast<std::size_t>(p - fraction);
        if (decimals == 0 || decimals > 10) return false;
    }
    if (p != end) return false;
    value = shortDecimal(digits, decimals, negative);
    return true;
}

// The text's bytes in a word, its first byte lowest; `readable` bytes
// from text.data() on may be read (at least text.size(), at most eight of
// which are taken).
[[gnu::always_inline]] inline std::uint64_t wordOf(std::string_view text, std::size_t readable) {
    std::uint64_t word = 0;
    if (readable >= 8) {
        std::memcpy(&word, text.data(), sizeof word);
    } else {
        for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
            word |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
        }
    }
    return word;
}

// `readable` as for wordOf.
[[gnu::always_inline]] inline bool readShortDecimal(std::string_view text, float& value, std::size_t readable) {
    if constexpr (std::endian::native == std::endian::little) {
        if (!text.empty() && text.size() <= 8) return readShortDecimalWord(wordOf(text, readable), text.size(), value);
    }
    return readShortDecimalText(text, value);
}

// Whether parseNumber reads the text as a finite number, for a value that
// is checked but not kept, where that is sure without reading it: eight
// bytes or fewer in the form -?DIGITS[.DIGITS] always are (eight digits
// stay far below the largest float). False says nothing.
[[gnu::always_inline]] inline bool surelyFiniteNumber(std::string_view text, std::size_t readable) {
    if constexpr (std::endian::native == std::endian::little) {
        ShortDigits d{};
        return !text.empty() && text.size() <= 8 && shortDecimalShape(wordOf(text, readable), text.size(), d);
    }
    return false;
}

// Volumes as files mostly write them, whole numbers of at most fifteen
// digits: exact in a double, read without the general algorithm.
bool readWholeNumber(std::string_view text, double& value) {
    if (text.empty() || text.size() > 15) return false;
    std::uint64_t n = 0;
    for (const char c : text) {
        const auto d = static_cast<unsigned>(c - '0');
        if (d > 9) return false;
        n = n * 10 + d;
    }
    value = static_cast<double>(n);
    return true;
}

// The shortcut of each kind of value: prices are floats, volumes doubles.
[[gnu::always_inline]] inline bool readShortNumber(std::string_view text, float& value, std::size_t readable) {
    return readShortDecimal(text, value, readable);
}
[[gnu::always_inline]] inline bool readShortNumber(std::string_view text, double& value, std::size_t) {
    return readWholeNumber(text, value);
}

// Any number from_chars reads in the general format, rounded once to the
// nearest float (a price) or double (a volume). A price too small for a
// float is 0, one too large infinite (and refused as such by the value
// rules); a number beyond a double's range is out of range.
// `readable` as for readShortDecimal.
template <typename T>
Number parseNumber(std::string_view text, bool thousands, T& value, std::size_t readable = 0) {
    readable = std::max(readable, text.size());
    const std::string_view untrimmed = text;
    text = trimBlanks(text);
    readable -= static_cast<std::size_t>(text.data() - untrimmed.data());
    if (text.empty()) return Number::Empty;
    std::string plain;
    if (thousands && text.find(',') != std::string_view::npos && thousandsGrouped(text)) {
        for (char c : text) {
            if (c != ',') plain += c;
        }
        text = plain;
        readable = text.size();
    }
    if (readShortNumber(text, value, readable)) return Number::Ok;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (end != last || ec == std::errc::invalid_argument) return Number::NotANumber;
    if (ec != std::errc::result_out_of_range) return Number::Ok;
    if constexpr (std::is_same_v<T, float>) {
        double wide = 0;
        const auto [wideEnd, wideEc] = std::from_chars(text.data(), last, wide);
        if (wideEnd != last || wideEc != std::errc()) return Number::OutOfRange;
        value = static_cast<float>(wide);
        if (value == 0.0f) value = 0.0f;  // no negative zero from an underflow
        return Number::Ok;
    } else {
        return Number::OutOfRange;
    }
}

enum class DateFault { None, NotADate, OtherDay, NotATime, OtherTime };

// A row's date from its date column and, when there is one, its time
// column (`timeText` empty otherwise).
DateFault combineDate(std::string_view text, std::string_view timeText, DateTime& into) {
    const std::optional<DateTime> date = parseDateTime(text);
    if (!date) return DateFault::NotADate;
    into = *date;
    if (trimBlanks(timeText).empty()) return DateFault::None;
    // A time column may hold the whole timestamp; its day must then agree.
    if (const auto full = parseDateTime(timeText); full) {
        if (full->year != date->year || full->month != date->month || full->day != date->day) {
            return DateFault::OtherDay;
        }
        if (full->hasTime) into = *full;
        return DateFault::None;
    }
    if (!parseTimeOfDay(timeText, into)) return DateFault::NotATime;
    if (date->hasTime && (date->hour != into.hour || date->minute != into.minute || date->second != into.second)) {
        return DateFault::OtherTime;
    }
    return DateFault::None;
}

constexpr std::array<Column, 5> kValueColumns = {Column::Open, Column::High, Column::Low, Column::Close,
                                                 Column::Volume};
constexpr std::size_t kVolume = 4;  // its place in kValueColumns

// A row's numbers: the prices as floats, the volume as a double, so that
// sums of volumes are exact.
struct RowValues {
    std::array<float, 4> price{};  // open, high, low, close
    double volume = 0.0;

    // Calls f with the value of kValueColumns[v].
    template <typename F>
    decltype(auto) at(std::size_t v, F&& f) {
        return v == kVolume ? f(volume) : f(price[v]);
    }
};

std::string headerList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "'" : ", '") + excerpt(n) + "'";
    return out.empty() ? "none" : out;
}

// Thrown by a window whose check finds the file is not UTF-8: what is read
// from it then counts for nothing.
struct NotUtf8 {};

// The text being read: all of it at once, or a regular file read in blocks
// that keeps what the reader has not finished with.
class TextWindow {
public:
    explicit TextWindow(std::string_view all) : view_(all), last_(true), expected_(all.size()) {}
    // Every byte read from fd is also fed to `check`, when given, once and in
    // order; NotUtf8 is thrown as soon as it fails.
    TextWindow(int fd, off_t from, std::size_t block, std::size_t expected, const std::string& name,
               Utf8Check* check = nullptr)
        : fd_(fd), offset_(from), expected_(expected), name_(&name), capacity_(std::max<std::size_t>(block, 1)),
          buffer_(std::make_unique_for_overwrite<char[]>(capacity_)), check_(check) {
        fill();
    }

    // Feeds the check what is left of the input, for a reader that stopped early.
    void checkRest() {
        if (last_ || check_ == nullptr) return;
        readAll(fd_, offset_, capacity_, *name_, [&](std::string_view piece) {
            check_->feed(piece);
            if (check_->broken()) throw NotUtf8{};
        });
        last_ = true;
    }

    [[nodiscard]] std::string_view text() const { return view_; }
    // The text runs to the end of the input.
    [[nodiscard]] bool last() const { return last_; }
    // How far into the input the text starts, and how long the input is
    // (as far as is known before reading it all).
    [[nodiscard]] std::size_t offset() const { return dropped_; }
    [[nodiscard]] std::size_t expectedSize() const { return expected_; }

    // Drops the text before `from` and reads on; the window may grow, so
    // that a record longer than a block still fits.
    void advance(std::size_t from) {
        if (last_) return;
        dropped_ += from;
        const std::size_t keep = size_ - from;
        std::memmove(buffer_.get(), buffer_.get() + from, keep);
        size_ = keep;
        if (keep > capacity_ / 2) {
            auto bigger = std::make_unique_for_overwrite<char[]>(2 * capacity_);
            std::memcpy(bigger.get(), buffer_.get(), keep);
            buffer_ = std::move(bigger);
            capacity_ *= 2;
        }
        fill();
    }

    // Reads fd from `offset` to its end in blocks of `size` bytes, handing each to `take`.
    template <typename Take>
    static void readAll(int fd, off_t offset, std::size_t size, const std::string& name, Take take) {
        const auto buffer = std::make_unique_for_overwrite<char[]>(size);
        while (true) {
            const ssize_t got = ::pread(fd, buffer.get(), size, offset);
            if (got < 0) {
                if (errno == EINTR) continue;
                throw BarFileError(name + ": cannot read the file");
            }
            if (got == 0) return;
            take(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
            offset += got;
        }
    }

private:
    void fill() {
        while (size_ < capacity_) {
            const ssize_t got = ::pread(fd_, buffer_.get() + size_, capacity_ - size_, offset_);
            if (got < 0) {
                if (errno == EINTR) continue;
                throw BarFileError(*name_ + ": cannot read the file");
            }
            if (got == 0) {
                last_ = true;
                break;
            }
            if (check_ != nullptr) {
                check_->feed(std::string_view(buffer_.get() + size_, static_cast<std::size_t>(got)));
                if (check_->broken()) throw NotUtf8{};
            }
            size_ += static_cast<std::size_t>(got);
            offset_ += got;
        }
        view_ = std::string_view(buffer_.get(), size_);
    }

    std::string_view view_;
    bool last_ = false;
    int fd_ = -1;
    off_t offset_ = 0;
    std::size_t dropped_ = 0, expected_ = 0;
    const std::string* name_ = nullptr;
    std::size_t capacity_ = 0;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    Utf8Check* check_ = nullptr;
};

class Reader {
public:
    Reader(const std::string& name, const ReadOptions& options) : name_(name), options_(options) {}
    // kept_ points into bars_.
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // One pass over the text. Quoting errors anywhere come first; then an
    // empty file, a bad header, the first bad row, and a header without
    // rows, in that order; then the dates' order.
    BarSeries read(TextWindow& window, ReadReport& report) {
        std::size_t pos = 0, line = 1;
        findDelimiter(window, pos, line);
        RecordSplitter splitter(delimiter_, name_);
        RecordView record;
        bool header = false;
        while (true) {
            if (plainRows_ && !failure_ && readPlainRow(window.text(), window.last(), pos, line)) {
                if (bars_.high.size() == kSampleRows) reserveFor(window.offset() + pos, window.expectedSize());
                continue;
            }
            const auto result = splitter.next(window.text(), pos, line, window.last(), record);
            if (result == RecordSplitter::Result::End) break;
            if (result == RecordSplitter::Result::NeedMore) {
                window.advance(pos);
                pos = 0;
                continue;
            }
            if (record.blank()) continue;
            // Once something is wrong the records are still split, for a
            // quoting error later in the file, which is reported first.
            if (failure_) continue;
            try {
                if (header) {
                    readRow(record, window.text());
                    if (bars_.high.size() == kSampleRows) reserveFor(window.offset() + pos, window.expectedSize());
                } else {
                    header = true;
                    readHeader(record);
                }
            } catch (const BarFileError& e) {
                failure_ = e.what();
            }
        }
        if (!header) throw BarFileError(name_ + ": the file is empty (no header row)");
        if (failure_) throw BarFileError(*failure_);
        if (bars_.high.empty()) throw BarFileError(name_ + ": a header but no bars");
        return assemble(report);
    }

private:
    std::string at(std::size_t line) const { return name_ + ":" + std::to_string(line); }
    std::string at(std::size_t line, int column) const {
        return at(line) + ":" + std::to_string(column + 1);
    }
    int column(Column c) const { return columns_[static_cast<std::size_t>(c)]; }
    // What the splitter trims from an unquoted field.
    bool blank(char c) const { return c == ' ' || (c == '\t' && delimiter_ != '\t'); }

    // A first line `sep=X` (as spreadsheets write it) names the delimiter;
    // otherwise the first line with more than delimiters and blanks decides.
    // Lines before it are skipped.
    void findDelimiter(TextWindow& window, std::size_t& pos, std::size_t& line) {
        std::string_view first;
        std::size_t next = 0;
        while (true) {
            const std::string_view text = window.text();
            if (pos >= text.size() && window.last()) {
                first = {};
                break;
            }
            const auto [end, after] = lineAt(text, pos);
            // The whole line and its line end (CR LF is one) must be in the window.
            if (!window.last() && (end == text.size() || (text[end] == '\r' && end + 1 == text.size()))) {
                window.advance(pos);
                pos = 0;
                continue;
            }
            first = text.substr(pos, end - pos);
            next = after;
            if (first.find_first_not_of(" \t,;") != std::string_view::npos) break;
            pos = next;
            ++line;
        }
        const std::string_view content = trimBlanks(first);
        if (content.size() == 5 && (content.substr(0, 4) == "sep=" || content.substr(0, 4) == "SEP=")) {
            delimiter_ = content[4] == ' ' ? kWhiteSpace : content[4];
            if (delimiter_ == '"') throw BarFileError(at(line) + ": a quote cannot be the delimiter");
            pos = next;
            ++line;
        } else {
            delimiter_ = delimiterOf(first);
        }
        for (const char c : {'\r', '\n', '"', delimiter_}) plainStops_[static_cast<unsigned char>(c)] = true;
    }

    void readHeader(const RecordView& header) {
        headerLine_ = header.line;
        lastLine_ = header.line;
        for (const FieldView& f : header.fields) names_.emplace_back(trimBlanks(f.text));
        // A trailing delimiter gives an unnamed last column.
        while (names_.size() > 1 && names_.back().empty()) names_.pop_back();
        columns_.fill(-1);
        for (std::size_t c = 0; c < names_.size(); ++c) {
            const Column role = columnOf(names_[c]);
            if (role != Column::Ignored && column(role) < 0) {
                columns_[static_cast<std::size_t>(role)] = static_cast<int>(c);
            }
        }
        // A lone time column holds the whole date and time.
        if (column(Column::Date) < 0) {
            std::swap(columns_[static_cast<std::size_t>(Column::Date)], columns_[static_cast<std::size_t>(Column::Time)]);
        }
        for (Column required : {Column::High, Column::Low}) {
            if (column(required) < 0) {
                throw BarFileError(at(headerLine_) + ": no '" + roleName(required) + "' column among the headers " +
                                   headerList(names_) + " (columns are separated by " +
                                   describeDelimiter(delimiter_) + "); the names read are " + acceptedNames());
            }
        }
        if (column(Column::Date) < 0 && !options_.allowNoDates) {
            throw BarFileError(at(headerLine_) + ": no date column among the headers " + headerList(names_) +
                               "; a date column is named one of: " + namesOf(Column::Date) + ", " +
                               namesOf(Column::Time) + " (any case). Without one the bars can only be taken in file order (--no-dates)");
        }
        for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
            if (column(kValueColumns[v]) >= 0) {
                std::vector<float>* const prices[] = {&bars_.open, &bars_.high, &bars_.low, &bars_.close};
                const bool stored = options_.keepOpenAndVolume ||
                                    (kValueColumns[v] != Column::Open && kValueColumns[v] != Column::Volume);
                Kept kept{v, static_cast<std::size_t>(column(kValueColumns[v]))};
                if (stored && v == kVolume) kept.volumes = &bars_.volume;
                if (stored && v != kVolume) kept.prices = prices[v];
                kept_[keptCount_++] = kept;
            }
        }
        // Blanks are part of white-space delimiters: such rows take the general path.
        plainRows_ = options_.plainRowShortcut && delimiter_ != kWhiteSpace;
    }

    // The first of plainStops_ in [p, end), or end: eight bytes at a time,
    // since fields are mostly shorter than that.
    const char* nextPlainStop(const char* p, const char* end) const {
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
            // The high bit of the lowest zero byte is set, and none below it.
            auto zeroBytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
            const std::uint64_t delimiters = kOnes * static_cast<unsigned char>(delimiter_);
            for (; end - p >= 8; p += 8) {
                std::uint64_t w;
                std::memcpy(&w, p, sizeof w);
                const std::uint64_t stops = zeroBytes(w ^ delimiters) | zeroBytes(w ^ (kOnes * '\n')) |
                                            zeroBytes(w ^ (kOnes * '\r')) | zeroBytes(w ^ (kOnes * '"'));
                if (stops != 0) return p + std::countr_zero(stops) / 8;
            }
        }
        while (p < end && !plainStops_[static_cast<unsigned char>(*p)]) ++p;
        return p;
    }

    // Splits the line at p into plainFields_ up to the first line end or
    // quote, or the end; returns where it stopped, or nullptr for a field
    // with blanks around it or too many fields. Sixty-four bytes at a time,
    // then sixteen, where the processor has the instructions; eight otherwise.
    const char* splitPlainLine(const char* p, const char* end, std::size_t& count, bool& empty) {
        const char* field = p;
        // Blanks around a field are trimmed: the general path does that.
        auto add = [&](const char* to) {
            if (count == plainFields_.size() || (to != field && (blank(*field) || blank(to[-1])))) return false;
            plainFields_[count++] = std::string_view(field, static_cast<std::size_t>(to - field));
            empty = empty && to == field;
            field = to + 1;
            return true;
        };
#if defined(__SSE2__)
        const __m128i delimiters = _mm_set1_epi8(delimiter_), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'),
                      quote = _mm_set1_epi8('"');
        // Sixty-four bytes, most rows whole, as two masks: the delimiters
        // and the stops. A row then takes as many turns of the loop below as
        // it has fields, the same for every row of a file, so that the
        // processor foresees them.
        for (; end - p >= 64; p += 64) {
            std::uint64_t at = 0, stops = 0;
            for (int part = 0; part < 4; ++part) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
                const auto a = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters)));
                const auto s = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_or_si128(
                    _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)), _mm_cmpeq_epi8(bytes, quote))));
                at |= std::uint64_t{a} << (16 * part);
                stops |= std::uint64_t{s} << (16 * part);
            }
            if (stops != 0) at &= (stops & (~stops + 1)) - 1;
            for (; at != 0; at &= at - 1) {
                if (!add(p + std::countr_zero(at))) return nullptr;
            }
            if (stops != 0) {
                const char* const stop = p + std::countr_zero(stops);
                return add(stop) ? stop : nullptr;
            }
        }
        for (; end - p >= 16; p += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            auto at = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, delimiters)));
            const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)), _mm_cmpeq_epi8(bytes, quote))));
            if (stops != 0) at &= (1u << std::countr_zero(stops)) - 1;
            for (; at != 0; at &= at - 1) {
                if (!add(p + std::countr_zero(at))) return nullptr;
            }
            if (stops != 0) {
                const char* const stop = p + std::countr_zero(stops);
                return add(stop) ? stop : nullptr;
            }
        }
#endif
        while (true) {
            p = nextPlainStop(p, end);
            if (!add(p)) return nullptr;
            if (p == end || *p != delimiter_) return p;
            ++p;
        }
    }

    // The usual row, read without the general splitter where that gives the
    // same: a whole line, its line end in the window, with no quote and no
    // blank around a field, so that its fields are the text between its
    // delimiters. Anything the general path would refuse or treat otherwise
    // (a blank line, another number of fields, a value the number and date
    // rules do not take as they stand, a low above its high) leaves the row
    // untouched and returns false: the general path then reads it and gives
    // its message.
    bool readPlainRow(std::string_view text, bool last, std::size_t& pos, std::size_t& line) {
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        if (pos == text.size()) return false;
        std::size_t count = 0;
        bool empty = true;
        const char* p = splitPlainLine(begin + pos, end, count, empty);
        if (p == nullptr || empty) return false;
        if (p == end) {
            if (!last) return false;
        } else if (*p == '\r') {
            // CR LF is one line end: the LF must be in the text to tell.
            if (p + 1 == end && !last) return false;
        } else if (*p != '\n') {
            return false;  // a quote
        }
        // Trailing delimiters add empty fields; they carry nothing.
        while (count > names_.size() && plainFields_[count - 1].empty()) --count;
        if (count != names_.size()) return false;
        RowValues values;
        for (std::size_t k = 0; k < keptCount_; ++k) {
            const std::size_t v = kept_[k].value;
            const std::string_view field = plainFields_[kept_[k].field];
            const auto readable = static_cast<std::size_t>(end - field.data());
            const bool good = values.at(v, [&](auto& value) {
                // What parseNumber gives for a field without blanks around it
                // that the short form reads (no thousands separators then).
                if (!kept_[k].stored() ? surelyFiniteNumber(field, readable)
                                       : readShortNumber(field, value, readable)) {
                    return true;
                }
                return parseNumber(field, v == kVolume, value, readable) == Number::Ok &&
                       valueProblem(value) == nullptr;
            });
            if (!good) return false;
        }
        if (lowAboveHigh(values.price[1], values.price[2])) return false;
        DateTime date;
        if (const int dc = column(Column::Date); dc >= 0) {
            const int tc = column(Column::Time);
            const std::string_view dateText = plainFields_[static_cast<std::size_t>(dc)];
            if (tc < 0) {
                if (readFixedDateTime(dateText, date) != FixedDate::Valid) {
                    const auto other = parseDateTime(dateText);
                    if (!other) return false;
                    date = *other;
                }
            } else if (combineDate(dateText, plainFields_[static_cast<std::size_t>(tc)], date) != DateFault::None) {
                return false;
            }
        }
        keepRow(line, date, values);
        if (p < end) p += *p == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;
        pos = static_cast<std::size_t>(p - begin);
        ++line;
        return true;
    }

    void readRow(const RecordView& record, std::string_view text) {
        const std::vector<FieldView>& fields = record.fields;
        // Trailing delimiters add empty fields; they carry nothing.
        std::size_t count = fields.size();
        while (count > names_.size() && trimBlanks(fields[count - 1].text).empty()) --count;
        if (count != names_.size()) {
            std::string hint;
            if (count == 1 && fields[0].quoted && delimiter_ != kWhiteSpace &&
                fields[0].text.find(delimiter_) != std::string_view::npos) {
                hint = " (the whole row is one quoted field)";
            }
            throw BarFileError(at(record.line) + ": expected " + std::to_string(names_.size()) +
                               " fields separated by " + describeDelimiter(delimiter_) + " as in the header, found " +
                               std::to_string(count) + hint + " in '" +
                               excerpt(text.substr(record.begin, record.end - record.begin)) + "'");
        }
        RowValues values;
        DateTime date;
        if (column(Column::Date) >= 0) date = dateOf(record.line, fields);
        for (std::size_t v = 0; v < kValueColumns.size(); ++v) {
            const int c = column(kValueColumns[v]);
            if (c < 0) continue;
            const std::string_view field = fields[static_cast<std::size_t>(c)].text;
            const char* what = nullptr;
            const Number status = values.at(v, [&](auto& value) {
                const Number read = parseNumber(field, v == kVolume, value);
                if (read == Number::Ok) what = valueProblem(value);
                return read;
            });
            if (status == Number::Ok && what == nullptr) continue;
            const std::string where = at(record.line, c) + ": column '" + excerpt(names_[static_cast<std::size_t>(c)]) + "' ";
            const std::string shown = "'" + excerpt(field) + "'";
            if (status == Number::Empty) throw BarFileError(where + "is empty");
            if (status == Number::NotANumber) throw BarFileError(where + "is not a number: " + shown);
            if (status == Number::OutOfRange) throw BarFileError(where + "is out of range: " + shown);
            throw BarFileError(where + "is " + what + ": " + shown);
        }
        if (const auto what = barProblem(values.price[1], values.price[2])) {
            const int c = column(Column::Low);
            throw BarFileError(at(record.line, c) + ": " + *what + ": '" +
                               excerpt(fields[static_cast<std::size_t>(c)].text) + "'");
        }
        keepRow(record.line, date, values);
    }

    // A row read and found good, by either path.
    void keepRow(std::size_t line, const DateTime& date, const RowValues& values) {
        // Most rows are one line after the one before; only the others are noted.
        const std::size_t row = bars_.high.size();
        if (line != lastLine_ + 1) unusualLines_.emplace_back(row, line);
        lastLine_ = line;
        if (column(Column::Date) >= 0) stamps_.emplace_back(date);
        for (std::size_t k = 0; k < keptCount_; ++k) {
            const Kept& kept = kept_[k];
            if (kept.prices != nullptr) kept.prices->push_back(values.price[kept.value]);
            if (kept.volumes != nullptr) kept.volumes->push_back(values.volume);
        }
    }

    DateTime dateOf(std::size_t line, const std::vector<FieldView>& fields) const {
        const int dc = column(Column::Date), tc = column(Column::Time);
        const std::string_view text = fields[static_cast<std::size_t>(dc)].text;
        const std::string_view timeText = tc < 0 ? std::string_view() : fields[static_cast<std::size_t>(tc)].text;
        DateTime date;
        switch (combineDate(text, timeText, date)) {
            case DateFault::None: return date;
            case DateFault::NotADate:
                throw BarFileError(at(line, dc) + ": not a valid date: '" + excerpt(text) + "'");
            case DateFault::OtherDay:
                throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' is on another day than '" +
                                   excerpt(text) + "'");
            case DateFault::NotATime:
                throw BarFileError(at(line, tc) + ": not a time of day: '" + excerpt(timeText) + "'");
            case DateFault::OtherTime:
                throw BarFileError(at(line, tc) + ": the time '" + excerpt(timeText) + "' differs from the date's '" +
                                   excerpt(text) + "'");
        }
        return date;
    }

    // The line a row (in file order) started on.
    std::size_t lineOf(std::size_t row) const {
        // The last noted row at or before it, and one line a row since.
        auto after = std::upper_bound(unusualLines_.begin(), unusualLines_.end(), row,
                                      [](std::size_t r, const std::pair<std::size_t, std::size_t>& u) { return r < u.first; });
        if (after == unusualLines_.begin()) return headerLine_ + 1 + row;
        --after;
        return after->second + (row - after->first);
    }

    BarSeries assemble(ReadReport& report) {
        const bool dated = column(Column::Date) >= 0;
        if (dated) {
            const DateOrder order = orderByDate(std::span<const DateStamp>(stamps_));
            if (order.duplicate) {
                const DateTime later = stamps_[order.duplicate->second].dateTime();
                throw BarFileError(at(lineOf(order.duplicate->second)) + ": duplicate date " +
                                   later.text(later.hasTime) + " (also on line " +
                                   std::to_string(lineOf(order.duplicate->first)) + ")");
            }
            if (!order.order.empty()) {
                permute(stamps_, order.order);
                for (auto* column : {&bars_.open, &bars_.high, &bars_.low, &bars_.close}) {
                    if (!column->empty()) permute(*column, order.order);
                }
                if (!bars_.volume.empty()) permute(bars_.volume, order.order);
                report.reordered = true;
            }
            // Seconds are shown when any time gave them, so the times of one
            // file are all written alike.
            bool seconds = false;
            for (const DateStamp& s : stamps_) seconds = seconds || s.hasSeconds();
            if (options_.packedDates) {
                bars_.stamps = std::move(stamps_);
                bars_.stampSeconds = seconds;
            } else {
                bars_.dates.reserve(stamps_.size());
                std::string text;
                for (const DateStamp& s : stamps_) {
                    text.clear();
                    appendDateText(text, s.dateTime(), seconds);
                    bars_.dates.push_back(text);
                }
                stamps_ = {};
            }
        }
        report.noDates = !dated;
        return std::move(bars_);
    }

    // Room for the rows still to come, from the length of the first ones, so
    // that the columns are not moved as they grow (room not written to takes
    // no memory).
    static constexpr std::size_t kSampleRows = 1024;
    void reserveFor(std::size_t bytesSoFar, std::size_t bytes) {
        if (bytesSoFar == 0 || bytes <= bytesSoFar) return;
        const double perRow = static_cast<double>(bytesSoFar) / static_cast<double>(kSampleRows);
        const auto rows = static_cast<std::size_t>(static_cast<double>(bytes) / perRow * 1.1) + kSampleRows;
        for (auto* column : {&bars_.open, &bars_.high, &bars_.low, &bars_.close}) {
            if (!column->empty()) column->reserve(rows);
        }
        if (!bars_.volume.empty()) bars_.volume.reserve(rows);
        if (!stamps_.empty()) stamps_.reserve(rows);
    }

    template <typename T>
    static void permute(std::vector<T>& values, const std::vector<std::size_t>& order) {
        std::vector<T> sorted;
        sorted.reserve(values.size());
        for (std::size_t k : order) sorted.push_back(values[k]);
        values = std::move(sorted);
    }

    const std::string& name_;
    const ReadOptions& options_;
    char delimiter_ = ',';
    bool plainRows_ = false;
    std::array<bool, 256> plainStops_{};  // the characters that end a field of a plain row, or the row
    std::array<std::string_view, 32> plainFields_{};
    std::size_t headerLine_ = 0, lastLine_ = 0;
    std::vector<std::string> names_;
    std::array<int, kColumnRoles> columns_{};
    // The value columns the file has: where in values, which field, and the column of bars_.
    struct Kept {
        std::size_t value = 0, field = 0;
        std::vector<float>* prices = nullptr;    // a price column kept
        std::vector<double>* volumes = nullptr;  // the volume column kept
        [[nodiscard]] bool stored() const { return prices != nullptr || volumes != nullptr; }
    };
    std::array<Kept, 5> kept_{};
    std::size_t keptCount_ = 0;
    std::optional<std::string> failure_;
    BarSeries bars_;
    std::vector<DateStamp> stamps_;
    std::vector<std::pair<std::size_t, std::size_t>> unusualLines_;  // (row, line), rows ascending
};

BarSeries parseDecoded(const DecodedText& decoded, const std::string& name, ReadReport* report,
                       const ReadOptions& options) {
    ReadReport mine;
    mine.encoding = decoded.encoding;
    TextWindow window(decoded.utf8);
    BarSeries bars = Reader(name, options).read(window, mine);
    if (report != nullptr) *report = mine;
    return bars;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

namespace {

// Text known to be UTF-8 (without its byte-order mark), in memory. NUL
// characters are refused before anything else.
BarSeries readUtf8(std::string_view text, const Utf8Check& check, const std::string& name, ReadReport* report,
                   const ReadOptions& options) {
    if (check.firstNul() != std::string_view::npos) refuseNul(name, check.firstNul(), "UTF-8");
    ReadReport mine;
    mine.encoding = "UTF-8";
    TextWindow whole(text);
    BarSeries bars = Reader(name, options).read(whole, mine);
    if (report != nullptr) *report = mine;
    return bars;
}

}  // namespace

BarSeries parseBarText(std::string bytes, const std::string& name, ReadReport* report, const ReadOptions& options) {
    return parseDecoded(decodeText(std::move(bytes), name), name, report, options);
}

BarSeries readBarFile(const std::filesystem::path& path, ReadReport* report, const ReadOptions& options) {
    const std::string name = path.string();
    const auto folder = [&] { return BarFileError(name + ": a folder, not a bar file"); };
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) throw folder();
        throw BarFileError(name + ": cannot open the file");
    }
    const std::size_t block = std::max<std::size_t>(options.blockBytes, 1);
    struct stat info {};
    const bool known = ::fstat(file.get(), &info) == 0;
    if (known && S_ISDIR(info.st_mode)) throw folder();
    const bool regular = known && S_ISREG(info.st_mode);
    if (regular) {
        // A file that fits in one block is read once and parsed where it
        // lies (one byte more than its size, to see its end in one read).
        const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
        TextWindow first(file.get(), 0, std::min(block, size + 1), size, name);
        // The first bytes tell the encoding; the window holds them unless
        // its blocks are smaller.
        char head[3] = {0, 0, 0};
        std::string_view start = first.text().substr(0, sizeof head);
        if (start.size() < sizeof head && !first.last()) {
            const ssize_t got = ::pread(file.get(), head, sizeof head, 0);
            start = std::string_view(head, got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        const bool utf16 = start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF";
        const std::size_t mark = start == "\xEF\xBB\xBF" ? 3 : 0;
        if (first.last()) {
            Utf8Check check;
            check.feed(first.text().substr(mark));
            if (!utf16 && check.valid()) return readUtf8(first.text().substr(mark), check, name, report, options);
            return parseBarText(std::string(first.text()), name, report, options);
        }
        // Longer UTF-8, by far the most common, is read in blocks and
        // checked as it is parsed; what was read stands only if the whole
        // file is UTF-8, where a NUL comes before any other complaint.
        // Whatever needs converting is decoded whole.
        if (!utf16) {
            Utf8Check check;
            try {
                TextWindow window(file.get(), static_cast<off_t>(mark), block, size, name, &check);
                ReadReport mine;
                mine.encoding = "UTF-8";
                std::optional<BarSeries> bars;
                std::optional<BarFileError> failure;
                try {
                    bars = Reader(name, options).read(window, mine);
                } catch (const BarFileError& e) {
                    failure = e;
                }
                window.checkRest();
                if (check.valid()) {
                    if (check.firstNul() != std::string_view::npos) refuseNul(name, check.firstNul(), "UTF-8");
                    if (failure) throw *failure;
                    if (report != nullptr) *report = mine;
                    return std::move(*bars);
                }
            } catch (const NotUtf8&) {
                // Decoded whole below.
            }
        }
    }
    std::string bytes;
    if (regular) {
        TextWindow::readAll(file.get(), 0, block, name, [&](std::string_view piece) { bytes.append(piece); });
    } else {
        const auto buffer = std::make_unique_for_overwrite<char[]>(block);
        while (true) {
            const ssize_t got = ::read(file.get(), buffer.get(), block);
            if (got < 0) {
                if (errno == EINTR) continue;
                throw BarFileError(name + ": cannot read the file");
            }
            if (got == 0) break;
            bytes.append(buffer.get(), static_cast<std::size_t>(got));
        }
    }
    return parseBarText(std::move(bytes), name, report, options);
}

}  // namespace vlmstruct
