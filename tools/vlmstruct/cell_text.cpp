#include "cell_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vlmstruct {

char* writeCells(char* out, std::span<const double> values, std::span<const vlm::Column> columns) {
    for (std::size_t k = 0; k < columns.size(); ++k) {
        *out++ = ',';
        const double v = values[k];
        if (std::isnan(v)) continue;
        if (columns[k].kind == vlm::ColumnKind::Price) {
            out = writeFloat(out, static_cast<float>(v));
        } else {
            out = std::to_chars(out, out + kFloatTextSize, static_cast<long long>(v)).ptr;
        }
    }
    return out;
}

void putCells(TextSink& out, std::span<const double> values, std::span<const vlm::Column> columns) {
    out.took(writeCells(out.space(columns.size() * kCellTextSize), values, columns));
}

CachedCells::CachedCells(std::span<const vlm::Column> columns, std::span<const std::size_t> groups)
    : columns_(columns), values_(columns.size()), text_(columns.size() * kCellTextSize) {
    std::size_t begin = 0;
    for (const std::size_t n : groups) {
        if (n == 0) continue;
        groups_.push_back({begin, begin + n, 0, false});
        begin += n;
    }
    if (begin != columns.size()) throw std::invalid_argument("the groups must cover every column once");
}

void CachedCells::put(TextSink& out, std::span<const double> values) {
    for (Group& g : groups_) {
        const std::size_t n = g.end - g.begin;
        double* seen = values_.data() + g.begin;
        char* text = text_.data() + g.begin * kCellTextSize;
        // Bitwise: NaN stays NaN, and -0 is not 0 (a price writes "-0").
        if (!g.written || std::memcmp(seen, values.data() + g.begin, n * sizeof(double)) != 0) {
            std::memcpy(seen, values.data() + g.begin, n * sizeof(double));
            g.length = static_cast<std::size_t>(writeCells(text, values.subspan(g.begin, n), columns_.subspan(g.begin, n)) - text);
            g.written = true;
        }
        out.put(std::string_view(text, g.length));
    }
}

}  // namespace vlmstruct
