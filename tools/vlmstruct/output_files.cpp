#include "output_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <utility>

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

void TextSink::putInt(long long v) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    (void)ec;  // 24 characters hold any long long
    text_->append(buffer, end);
}

void TextSink::flush() {
    if (file_ == nullptr || own_.empty()) return;
    if (std::fwrite(own_.data(), 1, own_.size(), file_) != own_.size()) {
        const int error = errno;
        throw std::runtime_error(name_ + ": cannot write the file: " + reason(error));
    }
    own_.clear();
}

OutputFiles::~OutputFiles() { removeTemporaries(); }

void OutputFiles::removeTemporaries() noexcept {
    for (Pending& p : pending_) {
        if (p.file != nullptr) {
            std::fclose(p.file);
            p.file = nullptr;
        }
        if (p.temp.empty()) continue;
        std::error_code ignored;
        fs::remove(p.temp, ignored);
        p.temp.clear();
    }
}

void OutputFiles::add(std::string path, std::string content) {
    TextSink& sink = open(std::move(path));
    sink.put(content);
    sink.written();
}

TextSink& OutputFiles::open(std::string path) {
    if (isStandardOutput(path)) {
        for (Pending& p : pending_) {
            if (p.path.empty()) return *p.sink;
        }
        // Kept aside in a file of its own, so that standard output gets it
        // only once every file is written, without holding it in memory.
        Pending p;
        p.file = std::tmpfile();
        if (p.file == nullptr) throw std::runtime_error("cannot keep standard output's part: " + reason(errno));
        p.sink = std::make_unique<TextSink>(p.file, "standard output");
        pending_.push_back(std::move(p));
        return *pending_.back().sink;
    }
    Pending p;
    p.path = fs::path(path);
    const fs::path folder = p.path.has_parent_path() ? p.path.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw std::runtime_error(p.path.string() + ": the folder " + folder.string() +
                                 (fs::exists(folder, ec) ? " is not a folder" : " does not exist"));
    }
    if (fs::is_directory(p.path, ec)) throw std::runtime_error(p.path.string() + ": is a folder");
    // Hidden, and with no bar-file extension, so that a scan never reads it.
    std::random_device random;
    p.temp = folder / ("." + p.path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(random()));
    p.file = std::fopen(p.temp.c_str(), "wbx");
    if (p.file == nullptr) {
        const int error = errno;
        throw std::runtime_error(p.path.string() + ": cannot write the file: " + reason(error));
    }
    p.sink = std::make_unique<TextSink>(p.file, p.path.string());
    pending_.push_back(std::move(p));
    return *pending_.back().sink;
}

void OutputFiles::commit() {
    try {
        for (Pending& p : pending_) {
            if (p.path.empty()) continue;
            p.sink->flush();
            std::FILE* file = std::exchange(p.file, nullptr);
            if (std::fclose(file) != 0) {
                throw std::runtime_error(p.path.string() + ": cannot write the file: " + reason(errno));
            }
        }
        for (Pending& p : pending_) {
            if (!p.path.empty()) continue;
            p.sink->flush();
            std::rewind(p.file);
            std::vector<char> block(std::size_t{1} << 20);
            std::size_t got = 0;
            while ((got = std::fread(block.data(), 1, block.size(), p.file)) > 0) {
                std::cout.write(block.data(), static_cast<std::streamsize>(got));
            }
            const bool kept = std::ferror(p.file) == 0;
            std::fclose(std::exchange(p.file, nullptr));
            std::cout.flush();
            if (!std::cout || !kept) throw std::runtime_error("cannot write to standard output");
        }
    } catch (...) {
        removeTemporaries();
        throw;
    }
    for (std::size_t k = 0; k < pending_.size(); ++k) {
        Pending& p = pending_[k];
        if (p.path.empty()) continue;
        std::error_code ec;
        fs::rename(p.temp, p.path, ec);
        if (ec) {
            removeTemporaries();
            std::string replaced;
            for (std::size_t d = 0; d < k; ++d) {
                if (!pending_[d].path.empty()) replaced += " " + pending_[d].path.string();
            }
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

void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
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
                    static constexpr char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0xF];
                    out += kHex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

std::string jsonString(const std::string& s) {
    std::string out;
    appendJsonString(out, s);
    return out;
}

void appendJsonNumber(std::string& out, float v) {
    if (std::isfinite(v)) {
        appendFloat(out, v);
    } else {
        out += "null";
    }
}

void appendJsonNumber(std::string& out, double v) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (std::isfinite(v) && ec == std::errc()) {
        out.append(buffer, end);
    } else {
        out += "null";
    }
}

std::string jsonNumber(float v) {
    std::string out;
    appendJsonNumber(out, v);
    return out;
}

std::string jsonNumber(double v) {
    std::string out;
    appendJsonNumber(out, v);
    return out;
}

namespace {

void putInt(std::string& out, long long v) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    (void)ec;
    out.append(buffer, end);
}

// The bar's date as a JSON string ("" without dates).
void putDate(std::string& out, const BarSeries& bars, int bar, std::string& scratch) {
    scratch.clear();
    if (bars.hasDates()) bars.appendDate(scratch, static_cast<std::size_t>(bar));
    appendJsonString(out, scratch);
}

void putMarks(TextSink& sink, const std::vector<Mark>& marks, const BarSeries& bars, bool lastMoves) {
    std::string& out = sink.text();
    std::string scratch;
    out += '[';
    for (std::size_t k = 0; k < marks.size(); ++k) {
        const Mark& m = marks[k];
        const int startBar = k == 0 ? 0 : marks[k - 1].bar;
        const float startPrice = k == 0 ? (m.direction == 1 ? bars.low[0] : bars.high[0])
                                        : marks[k - 1].price;
        out += k ? ",\n    " : "\n    ";
        out += "{\"direction\": ";
        putInt(out, m.direction);
        out += ", \"start_bar\": ";
        putInt(out, startBar);
        out += ", \"start_date\": ";
        putDate(out, bars, startBar, scratch);
        out += ", \"start_price\": ";
        appendJsonNumber(out, startPrice);
        out += ", \"end_bar\": ";
        putInt(out, m.bar);
        out += ", \"end_date\": ";
        putDate(out, bars, m.bar, scratch);
        out += ", \"end_price\": ";
        appendJsonNumber(out, m.price);
        out += ", \"in_progress\": ";
        out += lastMoves && k + 1 == marks.size() ? "true}" : "false}";
        sink.written();
    }
    out += marks.empty() ? "]" : "\n  ]";
}

void putPivot(std::string& out, const vlm::Pivot& p, float runCount, bool open, const BarSeries& bars) {
    std::string scratch;
    out += "{\"start_bar\": ";
    putInt(out, p.start);
    out += ", \"start_date\": ";
    putDate(out, bars, p.start, scratch);
    out += ", \"end_bar\": ";
    putInt(out, p.end);
    out += ", \"end_date\": ";
    putDate(out, bars, p.end, scratch);
    out += ", \"upper\": ";
    appendJsonNumber(out, p.upper);
    out += ", \"lower\": ";
    appendJsonNumber(out, p.lower);
    out += ", \"trend\": ";
    putInt(out, static_cast<int>(p.trend));
    out += ", \"run_count\": ";
    putInt(out, static_cast<int>(runCount));
    out += open ? ", \"open\": true}" : ", \"open\": false}";
}

void putPoint(std::string& out, const vlm::TradingPoint& p, const BarSeries& bars) {
    const vlm::PointPivot& z = vlm::PointPivotOf(p);
    std::string scratch;
    out += p.side == vlm::PointSide::Buy ? "{\"side\": \"buy\"" : "{\"side\": \"sell\"";
    out += ", \"label\": ";
    appendJsonString(out, vlm::PointLabel(p));
    out += ", \"classes\": [";
    bool first = true;
    for (int c = 1; c <= 3; ++c) {
        if (!p.has(c)) continue;
        if (!first) out += ", ";
        putInt(out, c);
        first = false;
    }
    out += "], \"bar\": ";
    putInt(out, p.bar);
    out += ", \"date\": ";
    putDate(out, bars, p.bar, scratch);
    out += ", \"price\": ";
    appendJsonNumber(out, p.price);
    out += ", \"pivot\": {\"start_bar\": ";
    putInt(out, z.pivot.start);
    out += ", \"start_date\": ";
    putDate(out, bars, z.pivot.start, scratch);
    out += ", \"end_bar\": ";
    putInt(out, z.pivot.end);
    out += ", \"end_date\": ";
    putDate(out, bars, z.pivot.end, scratch);
    out += ", \"upper\": ";
    appendJsonNumber(out, z.pivot.upper);
    out += ", \"lower\": ";
    appendJsonNumber(out, z.pivot.lower);
    out += ", \"trend\": ";
    putInt(out, static_cast<int>(z.pivot.trend));
    out += ", \"run_count\": ";
    putInt(out, static_cast<int>(z.runCount));
    out += "}";
    const bool one = p.has(1);
    out += ", \"leaving_force\": ";
    one ? appendJsonNumber(out, p.leavingForce) : void(out += "null");
    out += ", \"entering_force\": ";
    one ? appendJsonNumber(out, p.enteringForce) : void(out += "null");
    out += ", \"force_ratio\": ";
    one ? appendJsonNumber(out, p.forceRatio) : void(out += "null");
    out += ", \"follows_bar\": ";
    if (p.has(2)) {
        putInt(out, p.follows);
        out += ", \"follows_date\": ";
        putDate(out, bars, p.follows, scratch);
    } else {
        out += "null, \"follows_date\": null";
    }
    out += "}";
}

void putPoints(TextSink& sink, const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    std::string& out = sink.text();
    out += '[';
    for (std::size_t k = 0; k < points.size(); ++k) {
        out += k ? ",\n    " : "\n    ";
        putPoint(out, points[k], bars);
        sink.written();
    }
    out += points.empty() ? "]" : "\n  ]";
}

}  // namespace

std::string pointJson(const vlm::TradingPoint& p, const BarSeries& bars) {
    std::string out;
    putPoint(out, p, bars);
    return out;
}

std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    std::string out;
    TextSink sink(out);
    putPoints(sink, points, bars);
    return out;
}

void writeAnalysisCsv(TextSink& sink, const BarSeries& bars, const Analysis& a) {
    std::string& out = sink.text();
    out += "date,high,low";
    for (const auto& f : vlm::kSeriesFunctions) {
        out += ',';
        out += f.name;
    }
    out += ",trading_point\n";
    // The points come in bar order; where two share a bar the later is shown.
    const std::vector<vlm::TradingPoint>& points = a.points;
    const bool inOrder = std::is_sorted(points.begin(), points.end(), [](const auto& x, const auto& y) { return x.bar < y.bar; });
    std::vector<std::string> labels;
    if (!inOrder) {
        labels.resize(bars.size());
        for (const vlm::TradingPoint& p : points) labels[static_cast<std::size_t>(p.bar)] = vlm::PointLabel(p);
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        if (bars.hasDates()) {
            bars.appendDate(out, i);
        } else {
            putInt(out, static_cast<long long>(i));
        }
        out += ',';
        appendFloat(out, bars.high[i]);
        out += ',';
        appendFloat(out, bars.low[i]);
        for (const auto& series : a.outputs) {
            out += ',';
            appendFloat(out, series[i]);
        }
        out += ',';
        if (!inOrder) {
            out += labels[i];
        } else {
            const vlm::TradingPoint* shown = nullptr;
            while (next < points.size() && static_cast<std::size_t>(points[next].bar) <= i) {
                if (static_cast<std::size_t>(points[next].bar) == i) shown = &points[next];
                ++next;
            }
            if (shown != nullptr) out += vlm::PointLabel(*shown);
        }
        out += '\n';
        sink.written();
    }
}

std::string analysisCsv(const BarSeries& bars, const Analysis& a) {
    std::string out;
    TextSink sink(out);
    writeAnalysisCsv(sink, bars, a);
    return out;
}

void writeStructuresJson(TextSink& sink, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot) {
    std::string& out = sink.text();
    out += "{\n  \"source\": ";
    appendJsonString(out, source);
    out += ",\n  \"bars\": ";
    putInt(out, static_cast<long long>(bars.size()));
    out += ",\n  \"strokes\": ";
    putMarks(sink, a.strokes, bars, true);
    out += ",\n  \"segments\": ";
    putMarks(sink, a.segments, bars, true);
    out += ",\n  \"pivots\": [";
    std::size_t written = 0;
    for (std::size_t p = 0; p < a.pivots.size(); ++p, ++written) {
        out += written ? ",\n    " : "\n    ";
        putPivot(out, a.pivots[p], a.runCounts[p], false, bars);
        sink.written();
    }
    if (withOpenPivot && a.openPivot) {
        const float run = vlm::ContinueRunCount(a.pivots.empty() ? nullptr : &a.pivots.back(),
                                                a.runCounts.empty() ? 0.0f : a.runCounts.back(), *a.openPivot);
        out += written ? ",\n    " : "\n    ";
        putPivot(out, *a.openPivot, run, true, bars);
        ++written;
    }
    out += written ? "\n  ]" : "]";
    out += ",\n  \"points\": ";
    putPoints(sink, a.points, bars);
    out += "\n}\n";
    sink.written();
}

std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot) {
    std::string out;
    TextSink sink(out);
    writeStructuresJson(sink, source, bars, a, withOpenPivot);
    return out;
}

}  // namespace vlmstruct
