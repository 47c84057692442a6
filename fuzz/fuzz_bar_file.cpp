// The bar-file reader on arbitrary bytes: it either returns bars that meet
// the rules (columns of one length, dates strictly ascending, finite prices,
// no low above its high), or refuses with its own error. Nothing else.
//
// The first byte picks how the rest is handed over: as it is, as UTF-16
// (either byte order, with its mark), or with every comma-separated field
// quoted. ASCII text in UTF-16, and a comma-separated file with its fields
// quoted, must read exactly as the plain text does. The plain text read with
// the plain-row shortcut off must give the same bits, or the same message,
// and so must it read as scan reads it (dates packed, opens and volumes
// checked but not kept).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "barfile/bar_file.h"
#include "barfile/record_splitter.h"
#include "barfile/text_encoding.h"

namespace {

using vlmstruct::BarSeries;

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

std::optional<BarSeries> read(const std::string& text, std::string* message = nullptr, bool shortcut = true,
                              bool lean = false) {
    try {
        return vlmstruct::parseBarText(
            text, "fuzz.csv", nullptr,
            {.packedDates = lean, .plainRowShortcut = shortcut, .keepOpenAndVolume = !lean});
    } catch (const vlmstruct::BarFileError& e) {
        if (message != nullptr) *message = e.what();
        return std::nullopt;
    }
}

void check(const BarSeries& bars) {
    const std::size_t n = bars.size();
    const bool consistent = n > 0 && bars.low.size() == n && bars.dates.size() == n &&
                            (bars.open.empty() || bars.open.size() == n) &&
                            (bars.close.empty() || bars.close.size() == n) &&
                            (bars.volume.empty() || bars.volume.size() == n);
    if (!consistent) fail("inconsistent bar series");
    for (std::size_t i = 1; i < n; ++i) {
        if (!(bars.dates[i - 1] < bars.dates[i])) fail("dates not strictly ascending");
    }
    for (const auto* column : {&bars.open, &bars.high, &bars.low, &bars.close}) {
        for (float v : *column) {
            if (!std::isfinite(v)) fail("a value that is not finite");
        }
    }
    for (double v : bars.volume) {
        if (!std::isfinite(v)) fail("a value that is not finite");
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (bars.low[i] > bars.high[i]) fail("a low above its high");
    }
}

template <typename T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool sameBits(const BarSeries& a, const BarSeries& b) {
    return a.dates == b.dates && sameBits(a.open, b.open) && sameBits(a.high, b.high) && sameBits(a.low, b.low) &&
           sameBits(a.close, b.close) && sameBits(a.volume, b.volume);
}

bool same(const std::optional<BarSeries>& a, const std::optional<BarSeries>& b) {
    if (!a || !b) return !a && !b;
    return a->dates == b->dates && a->open == b->open && a->high == b->high && a->low == b->low &&
           a->close == b->close && a->volume == b->volume;
}

// What scan and analyze keep: the same highs, lows and closes, the same
// dates once written, and no opens or volumes (still checked as read).
bool sameLean(const BarSeries& whole, const BarSeries& lean) {
    if (!lean.open.empty() || !lean.volume.empty() || !lean.dates.empty() || !sameBits(whole.high, lean.high) ||
        !sameBits(whole.low, lean.low) || !sameBits(whole.close, lean.close)) {
        return false;
    }
    if (whole.dates.empty()) return lean.stamps.empty();
    if (lean.stamps.size() != whole.dates.size()) return false;
    for (std::size_t i = 0; i < whole.dates.size(); ++i) {
        if (lean.date(i) != whole.dates[i]) return false;
    }
    return true;
}

std::string utf16(const std::string& text, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) out += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

// A UTF-8 byte-order mark marks the file, not its first field: it stays
// before the first quote, as a spreadsheet writes it.
std::string quoteEveryField(const std::string& text) {
    const bool mark = text.rfind("\xEF\xBB\xBF", 0) == 0;
    std::string out = mark ? "\xEF\xBB\xBF\"" : "\"";
    for (char c : std::string_view(text).substr(mark ? 3 : 0)) {
        if (c == ',') {
            out += "\",\"";
        } else if (c == '\n') {
            out += "\"\n\"";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Plain comma-separated text whose meaning quoting cannot change: no quotes
// or carriage returns to begin with, and a first line that decides on commas.
bool quotable(const std::string& text) {
    if (text.find_first_of("\"\r") != std::string::npos) return false;
    const std::string first = text.substr(0, text.find('\n'));
    if (first.find_first_not_of(" \t,;") == std::string::npos || first.rfind("sep=", 0) == 0 ||
        first.rfind("SEP=", 0) == 0) {
        return false;
    }
    return vlmstruct::delimiterOf(first) == ',';
}

bool ascii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string message, generalMessage;
    const std::optional<BarSeries> plain = read(text, &message);
    if (plain) check(*plain);
    const std::optional<BarSeries> general = read(text, &generalMessage, false);
    if (plain.has_value() != general.has_value() || (plain && !sameBits(*plain, *general)) ||
        message != generalMessage) {
        fail("the plain-row shortcut reads differently from the general path");
    }
    std::string leanMessage;
    const std::optional<BarSeries> lean = read(text, &leanMessage, true, true);
    if (plain.has_value() != lean.has_value() || (plain && !sameLean(*plain, *lean)) || message != leanMessage) {
        fail("reading without opens and volumes kept changed what was read");
    }
    switch (data[0] % 3) {
        case 1: {
            const bool littleEndian = data[0] & 0x80;
            const std::optional<BarSeries> wide = read(utf16(text, littleEndian));
            if (wide) check(*wide);
            if (ascii(text) && !same(plain, wide)) fail("UTF-16 reads differently from the same ASCII text");
            break;
        }
        case 2: {
            const std::optional<BarSeries> quoted = read(quoteEveryField(text));
            if (quoted) check(*quoted);
            if (quotable(text) && !same(plain, quoted)) fail("quoting every field changed what was read");
            break;
        }
        default: break;
    }
    return 0;
}
