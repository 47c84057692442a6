#include "output_files.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>

#include "pivot/pivot_outputs.h"
#include "points/point_replay.h"

namespace vlmstruct {

namespace {

namespace fs = std::filesystem;

fs::path comparable(const fs::path& p) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p) : c;
}

std::string reason(int error) { return std::strerror(error); }

}  // namespace

void checkOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs,
                      const std::vector<fs::path>& inputs) {
    std::vector<std::pair<std::string, fs::path>> seen;
    std::string toStandardOutput;
    for (const auto& [option, path] : outputs) {
        if (path.empty()) continue;
        if (isStandardOutput(path)) {
            if (!toStandardOutput.empty()) {
                throw UsageError(toStandardOutput + " and " + option +
                                 " cannot both go to standard output ('-')");
            }
            toStandardOutput = option;
            continue;
        }
        const fs::path where = comparable(path);
        for (const auto& [other, otherPath] : seen) {
            if (otherPath == where) throw UsageError(other + " and " + option + " name the same file: " + path);
        }
        for (const fs::path& input : inputs) {
            std::error_code ec;
            if (where == comparable(input) || fs::equivalent(path, input, ec)) {
                throw UsageError(option + " " + path + " would overwrite the input " + input.string());
            }
        }
        seen.emplace_back(option, where);
    }
}

OutputFiles::~OutputFiles() { removeTemporaries(); }

void OutputFiles::removeTemporaries() noexcept {
    for (Pending& p : pending_) {
        if (p.temp.empty()) continue;
        std::error_code ignored;
        fs::remove(p.temp, ignored);
        p.temp.clear();
    }
}

void OutputFiles::add(std::string path, std::string content) {
    if (isStandardOutput(path)) {
        toStandardOutput_ = true;
        standardOutput_ += content;
        return;
    }
    pending_.push_back({fs::path(path), {}, std::move(content)});
}

void OutputFiles::commit() {
    std::random_device random;
    for (Pending& p : pending_) {
        const fs::path folder = p.path.has_parent_path() ? p.path.parent_path() : fs::path(".");
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) {
            throw std::runtime_error(p.path.string() + ": the folder " + folder.string() +
                                     (fs::exists(folder, ec) ? " is not a folder" : " does not exist"));
        }
        if (fs::is_directory(p.path, ec)) throw std::runtime_error(p.path.string() + ": is a folder");
        // Hidden, and with no bar-file extension, so that a scan never reads it.
        p.temp = folder / ("." + p.path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                           std::to_string(random()));
        std::FILE* out = std::fopen(p.temp.c_str(), "wbx");
        if (out == nullptr) {
            const int error = errno;
            p.temp.clear();
            removeTemporaries();
            throw std::runtime_error(p.path.string() + ": cannot write the file: " + reason(error));
        }
        const bool written = std::fwrite(p.content.data(), 1, p.content.size(), out) == p.content.size();
        const int writeError = errno;
        const bool closed = std::fclose(out) == 0;
        if (!written || !closed) {
            const int error = !written ? writeError : errno;
            removeTemporaries();
            throw std::runtime_error(p.path.string() + ": cannot write the file: " + reason(error));
        }
    }
    if (toStandardOutput_) {
        std::cout << standardOutput_;
        std::cout.flush();
        if (!std::cout) {
            removeTemporaries();
            throw std::runtime_error("cannot write to standard output");
        }
    }
    for (std::size_t k = 0; k < pending_.size(); ++k) {
        Pending& p = pending_[k];
        std::error_code ec;
        fs::rename(p.temp, p.path, ec);
        if (ec) {
            removeTemporaries();
            std::string replaced;
            for (std::size_t d = 0; d < k; ++d) replaced += " " + pending_[d].path.string();
            throw std::runtime_error(p.path.string() + ": cannot replace the file: " + ec.message() +
                                     (replaced.empty() ? "" : " (already replaced:" + replaced + ")"));
        }
        p.temp.clear();
    }
}

void writeFileAtomically(const fs::path& path, const std::string& content) {
    OutputFiles files;
    files.add(path.string(), content);
    files.commit();
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

std::string jsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : "null";
}

static std::vector<std::string> pointLabels(const Analysis& a, std::size_t bars) {
    std::vector<std::string> labels(bars);
    for (const vlm::TradingPoint& p : a.points) labels[static_cast<std::size_t>(p.bar)] = vlm::PointLabel(p);
    return labels;
}

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

std::string optionalBar(bool present, int bar, const BarSeries& bars, const char* name) {
    std::ostringstream out;
    out << "\"" << name << "_bar\": ";
    if (present) out << bar << ", \"" << name << "_date\": " << jsonString(dateOf(bars, bar));
    else out << "null, \"" << name << "_date\": null";
    return out.str();
}

}  // namespace

std::string pointJson(const vlm::TradingPoint& p, const BarSeries& bars) {
    const vlm::PointPivot& z = vlm::PointPivotOf(p);
    std::ostringstream out;
    out << "{\"side\": " << (p.side == vlm::PointSide::Buy ? "\"buy\"" : "\"sell\"")
        << ", \"label\": " << jsonString(vlm::PointLabel(p)) << ", \"classes\": [";
    bool first = true;
    for (int c = 1; c <= 3; ++c) {
        if (!p.has(c)) continue;
        out << (first ? "" : ", ") << c;
        first = false;
    }
    out << "], \"bar\": " << p.bar << ", \"date\": " << jsonString(dateOf(bars, p.bar))
        << ", \"price\": " << jsonNumber(p.price) << ", \"pivot\": {\"start_bar\": " << z.pivot.start
        << ", \"start_date\": " << jsonString(dateOf(bars, z.pivot.start)) << ", \"end_bar\": " << z.pivot.end
        << ", \"end_date\": " << jsonString(dateOf(bars, z.pivot.end)) << ", \"upper\": " << jsonNumber(z.pivot.upper)
        << ", \"lower\": " << jsonNumber(z.pivot.lower) << ", \"trend\": " << static_cast<int>(z.pivot.trend)
        << ", \"run_count\": " << static_cast<int>(z.runCount) << "}";
    const bool one = p.has(1);
    out << ", \"leaving_force\": " << (one ? jsonNumber(p.leavingForce) : "null")
        << ", \"entering_force\": " << (one ? jsonNumber(p.enteringForce) : "null")
        << ", \"force_ratio\": " << (one ? jsonNumber(p.forceRatio) : "null") << ", "
        << optionalBar(p.has(2), p.follows, bars, "follows") << "}";
    return out.str();
}

std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    std::string out = "[";
    for (std::size_t k = 0; k < points.size(); ++k) out += (k ? ",\n    " : "\n    ") + pointJson(points[k], bars);
    return out + (points.empty() ? "]" : "\n  ]");
}

std::string analysisCsv(const BarSeries& bars, const Analysis& a) {
    std::string out = "date,high,low";
    for (const auto& f : vlm::kSeriesFunctions) out += "," + std::string(f.name);
    out += ",trading_point\n";
    const std::vector<std::string> labels = pointLabels(a, bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
        out += bars.dates.empty() ? std::to_string(i) : bars.dates[i];
        out += "," + formatFloat(bars.high[i]) + "," + formatFloat(bars.low[i]);
        for (const auto& series : a.outputs) out += "," + formatFloat(series[i]);
        out += "," + labels[i] + "\n";
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
    out << (written ? "\n  ]" : "]") << ",\n  \"points\": " << pointsJson(a.points, bars) << "\n}\n";
    return out.str();
}

}  // namespace vlmstruct
