#include "output_files.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "pivot/pivot_outputs.h"

namespace vlmstruct {

void writeFileAtomically(const std::filesystem::path& path, const std::string& content) {
    namespace fs = std::filesystem;
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    const fs::path temp = path.string() + ".tmp" + std::to_string(::getpid()) + "-" +
                          std::to_string(std::random_device{}());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            throw std::runtime_error(path.string() + ": cannot write the file");
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw std::runtime_error(path.string() + ": cannot replace the file");
    }
}

std::string formatFloat(float v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<': out += "\\u003c"; break;  // never closes a script element it sits in
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", c);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string jsonNumber(float v) { return std::isfinite(v) ? formatFloat(v) : "null"; }

namespace {

std::string dateOf(const BarSeries& bars, int bar) {
    return bars.dates.empty() ? std::string() : bars.dates[static_cast<std::size_t>(bar)];
}

std::string marksJson(const std::vector<Mark>& marks, const BarSeries& bars, bool lastMoves) {
    std::ostringstream out;
    out << "[";
    for (std::size_t k = 0; k < marks.size(); ++k) {
        const Mark& m = marks[k];
        const int startBar = k == 0 ? 0 : marks[k - 1].bar;
        const float startPrice = k == 0 ? (m.direction == 1 ? bars.low[0] : bars.high[0])
                                        : marks[k - 1].price;
        out << (k ? ",\n    " : "\n    ") << "{\"direction\": " << m.direction
            << ", \"start_bar\": " << startBar << ", \"start_date\": "
            << jsonString(dateOf(bars, startBar)) << ", \"start_price\": " << jsonNumber(startPrice)
            << ", \"end_bar\": " << m.bar << ", \"end_date\": " << jsonString(dateOf(bars, m.bar))
            << ", \"end_price\": " << jsonNumber(m.price)
            << ", \"in_progress\": " << (lastMoves && k + 1 == marks.size() ? "true" : "false")
            << "}";
    }
    out << (marks.empty() ? "]" : "\n  ]");
    return out.str();
}

std::string pivotJson(const vlm::Pivot& p, float runCount, bool open, const BarSeries& bars) {
    std::ostringstream out;
    out << "{\"start_bar\": " << p.start << ", \"start_date\": " << jsonString(dateOf(bars, p.start))
        << ", \"end_bar\": " << p.end << ", \"end_date\": " << jsonString(dateOf(bars, p.end))
        << ", \"upper\": " << jsonNumber(p.upper) << ", \"lower\": " << jsonNumber(p.lower)
        << ", \"trend\": " << static_cast<int>(p.trend) << ", \"run_count\": "
        << static_cast<int>(runCount) << ", \"open\": " << (open ? "true" : "false") << "}";
    return out.str();
}

}  // namespace

std::string analysisCsv(const BarSeries& bars, const Analysis& a) {
    std::string out = "date,high,low";
    for (const auto& f : vlm::kSeriesFunctions) out += "," + std::string(f.name);
    out += "\n";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        out += bars.dates.empty() ? std::to_string(i) : bars.dates[i];
        out += "," + formatFloat(bars.high[i]) + "," + formatFloat(bars.low[i]);
        for (const auto& series : a.outputs) out += "," + formatFloat(series[i]);
        out += "\n";
    }
    return out;
}

std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot) {
    std::ostringstream out;
    out << "{\n  \"source\": " << jsonString(source) << ",\n  \"bars\": " << bars.size()
        << ",\n  \"strokes\": " << marksJson(a.strokes, bars, true)
        << ",\n  \"segments\": " << marksJson(a.segments, bars, true) << ",\n  \"pivots\": [";
    std::size_t written = 0;
    for (std::size_t p = 0; p < a.pivots.size(); ++p, ++written) {
        out << (written ? ",\n    " : "\n    ") << pivotJson(a.pivots[p], a.runCounts[p], false, bars);
    }
    if (withOpenPivot && a.openPivot) {
        const float run = vlm::ContinueRunCount(a.pivots.empty() ? nullptr : &a.pivots.back(),
                                                a.runCounts.empty() ? 0.0f : a.runCounts.back(), *a.openPivot);
        out << (written ? ",\n    " : "\n    ") << pivotJson(*a.openPivot, run, true, bars);
        ++written;
    }
    out << (written ? "\n  ]" : "]") << "\n}\n";
    return out.str();
}

}  // namespace vlmstruct
