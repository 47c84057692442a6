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
        throw std::runtime_error(name_ + ": cannot write the file: " + reason(error));
    }
}

void TextSink::flush() {
    const auto used = static_cast<std::size_t>(end_ - buffer_.get());
    if (used == 0) return;
    if (string_ != nullptr) {
        string_->append(buffer_.get(), used);
    } else if (std::fwrite(buffer_.get(), 1, used, file_) != used) {
        const int error = errno;
        throw std::runtime_error(name_ + ": cannot write the file: " + reason(error));
    }
    end_ = buffer_.get();
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
    open(std::move(path)).putBlock(content);
}

TextSink& OutputFiles::open(std::string path) {
    if (isStandardOutput(path)) {
        for (Pending& p : pending_) {
            if (p.path.empty()) return *p.sink;
        }
        // Kept aside in a file of its own, so that standard output gets it
        // only once every file is written, without holding it in memory.
        // In memory where no temporary file can be made.
        Pending p;
        p.file = std::tmpfile();
        if (p.file != nullptr) {
            p.sink = std::make_unique<TextSink>(p.file, "standard output");
        } else {
            p.held = std::make_unique<std::string>();
            p.sink = std::make_unique<TextSink>(*p.held);
        }
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
    Pending* standard = nullptr;
    try {
        for (Pending& p : pending_) {
            p.sink->flush();
            if (p.path.empty()) {
                standard = &p;
                continue;
            }
            std::FILE* file = std::exchange(p.file, nullptr);
            if (std::fclose(file) != 0) {
                throw std::runtime_error(p.path.string() + ": cannot write the file: " + reason(errno));
            }
        }
    } catch (...) {
        removeTemporaries();
        throw;
    }
    std::string replaced;  // the files renamed so far
    for (Pending& p : pending_) {
        if (p.path.empty()) continue;
        std::error_code ec;
        fs::rename(p.temp, p.path, ec);
        if (ec) {
            removeTemporaries();
            throw std::runtime_error(p.path.string() + ": cannot replace the file: " + ec.message() +
                                     (replaced.empty() ? "" : " (already replaced:" + replaced + ")"));
        }
        p.temp.clear();
        replaced += " " + p.path.string();
    }
    // Standard output cannot be taken back: it gets its part only now that
    // every file is in place.
    if (standard == nullptr) return;
    const std::string failure =
        "cannot write to standard output" + (replaced.empty() ? std::string() : " (written:" + replaced + ")");
    if (standard->held) {
        std::cout << *standard->held;
        std::cout.flush();
        if (!std::cout) throw std::runtime_error(failure);
        return;
    }
    std::rewind(standard->file);
    std::vector<char> block(std::size_t{1} << 20);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), standard->file)) > 0) {
        std::cout.write(block.data(), static_cast<std::streamsize>(got));
    }
    const bool kept = std::ferror(standard->file) == 0;
    std::fclose(std::exchange(standard->file, nullptr));
    std::cout.flush();
    if (!std::cout || !kept) throw std::runtime_error(failure);
}

void writeFileAtomically(const fs::path& path, const std::string& content) {
    OutputFiles files;
    files.add(path.string(), content);
    files.commit();
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

namespace {

// The bar's date as a JSON string ("" without dates).
void putDate(TextSink& out, const BarSeries& bars, int bar) {
    if (!bars.hasDates()) {
        out.put("\"\"");
        return;
    }
    if (!bars.dates.empty()) {
        out.putJsonString(bars.dates[static_cast<std::size_t>(bar)]);
        return;
    }
    // Packed dates are digits, '-', ' ' and ':': nothing to escape.
    out.put('"');
    out.putDate(bars, static_cast<std::size_t>(bar));
    out.put('"');
}

// `"<what>_bar": N, "<what>_date": "..."`, after `lead` (the separator before it).
void putBarAndDate(TextSink& out, std::string_view lead, std::string_view what, int bar, const BarSeries& bars) {
    out.put(lead);
    out.put('"');
    out.put(what);
    out.put("_bar\": ");
    out.putInt(bar);
    out.put(", \"");
    out.put(what);
    out.put("_date\": ");
    putDate(out, bars, bar);
}

void putMarks(TextSink& out, const std::vector<Mark>& marks, const BarSeries& bars, bool lastMoves) {
    out.put('[');
    for (std::size_t k = 0; k < marks.size(); ++k) {
        const Mark& m = marks[k];
        const int startBar = k == 0 ? 0 : marks[k - 1].bar;
        const float startPrice = k == 0 ? (m.direction == 1 ? bars.low[0] : bars.high[0])
                                        : marks[k - 1].price;
        out.put(k ? ",\n    " : "\n    ");
        out.put("{\"direction\": ");
        out.putInt(m.direction);
        putBarAndDate(out, ", ", "start", startBar, bars);
        out.put(", \"start_price\": ");
        out.putJsonNumber(startPrice);
        putBarAndDate(out, ", ", "end", m.bar, bars);
        out.put(", \"end_price\": ");
        out.putJsonNumber(m.price);
        out.put(", \"in_progress\": ");
        out.put(lastMoves && k + 1 == marks.size() ? "true}" : "false}");
        out.written();
    }
    out.put(marks.empty() ? "]" : "\n  ]");
}

// A pivot's object without its closing brace, for the pivot lists and a point's pivot.
void putPivotFields(TextSink& out, const vlm::Pivot& p, float runCount, const BarSeries& bars) {
    putBarAndDate(out, "{", "start", p.start, bars);
    putBarAndDate(out, ", ", "end", p.end, bars);
    out.put(", \"upper\": ");
    out.putJsonNumber(p.upper);
    out.put(", \"lower\": ");
    out.putJsonNumber(p.lower);
    out.put(", \"trend\": ");
    out.putInt(static_cast<int>(p.trend));
    out.put(", \"run_count\": ");
    out.putInt(static_cast<int>(runCount));
}

void putPivot(TextSink& out, const vlm::Pivot& p, float runCount, bool open, const BarSeries& bars) {
    putPivotFields(out, p, runCount, bars);
    out.put(open ? ", \"open\": true}" : ", \"open\": false}");
}

void putPoint(TextSink& out, const vlm::TradingPoint& p, const BarSeries& bars) {
    const vlm::PointPivot& z = vlm::PointPivotOf(p);
    out.put(p.side == vlm::PointSide::Buy ? "{\"side\": \"buy\"" : "{\"side\": \"sell\"");
    out.put(", \"label\": ");
    out.putJsonString(vlm::PointLabel(p));
    out.put(", \"classes\": [");
    bool first = true;
    for (int c = 1; c <= 3; ++c) {
        if (!p.has(c)) continue;
        if (!first) out.put(", ");
        out.putInt(c);
        first = false;
    }
    out.put("], \"bar\": ");
    out.putInt(p.bar);
    out.put(", \"date\": ");
    putDate(out, bars, p.bar);
    out.put(", \"price\": ");
    out.putJsonNumber(p.price);
    out.put(", \"pivot\": ");
    putPivotFields(out, z.pivot, z.runCount, bars);
    out.put('}');
    const bool one = p.has(1);
    const std::pair<const char*, double> forces[] = {
        {", \"leaving_force\": ", p.leavingForce}, {", \"entering_force\": ", p.enteringForce},
        {", \"force_ratio\": ", p.forceRatio}};
    for (const auto& [name, value] : forces) {
        out.put(name);
        if (one) {
            out.putJsonNumber(value);
        } else {
            out.put("null");
        }
    }
    out.put(", \"follows_bar\": ");
    if (p.has(2)) {
        out.putInt(p.follows);
        out.put(", \"follows_date\": ");
        putDate(out, bars, p.follows);
    } else {
        out.put("null, \"follows_date\": null");
    }
    out.put('}');
}

void putPoints(TextSink& out, const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    out.put('[');
    for (std::size_t k = 0; k < points.size(); ++k) {
        out.put(k ? ",\n    " : "\n    ");
        putPoint(out, points[k], bars);
        out.written();
    }
    out.put(points.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string pointJson(const vlm::TradingPoint& p, const BarSeries& bars) {
    std::string out;
    TextSink sink(out);
    putPoint(sink, p, bars);
    sink.flush();
    return out;
}

std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars) {
    std::string out;
    TextSink sink(out);
    putPoints(sink, points, bars);
    sink.flush();
    return out;
}

void writeAnalysisCsv(TextSink& out, const BarSeries& bars, const Analysis& a) {
    out.put("date,high,low");
    for (const auto& f : vlm::kSeriesFunctions) {
        out.put(',');
        out.put(f.name);
    }
    out.put(",trading_point\n");
    // The points come in bar order; where two share a bar the later is shown.
    const std::vector<vlm::TradingPoint>& points = a.points;
    const bool inOrder =
        std::is_sorted(points.begin(), points.end(), [](const auto& x, const auto& y) { return x.bar < y.bar; });
    std::vector<std::string> labels;
    if (!inOrder) {
        labels.resize(bars.size());
        for (const vlm::TradingPoint& p : points) labels[static_cast<std::size_t>(p.bar)] = vlm::PointLabel(p);
    }
    const bool dated = bars.hasDates();
    std::size_t next = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        if (dated) {
            out.putDate(bars, i);
        } else {
            out.putInt(static_cast<long long>(i));
        }
        out.put(',');
        out.putFloat(bars.high[i]);
        out.put(',');
        out.putFloat(bars.low[i]);
        for (const auto& series : a.outputs) {
            out.put(',');
            // Most outputs are 0 at most bars.
            if (series[i] == 0.0f && !std::signbit(series[i])) {
                out.put('0');
            } else {
                out.putFloat(series[i]);
            }
        }
        out.put(',');
        if (!inOrder) {
            out.put(labels[i]);
        } else {
            const vlm::TradingPoint* shown = nullptr;
            while (next < points.size() && static_cast<std::size_t>(points[next].bar) <= i) {
                if (static_cast<std::size_t>(points[next].bar) == i) shown = &points[next];
                ++next;
            }
            if (shown != nullptr) out.put(vlm::PointLabel(*shown));
        }
        out.put('\n');
        out.written();
    }
}

std::string analysisCsv(const BarSeries& bars, const Analysis& a) {
    std::string out;
    TextSink sink(out);
    writeAnalysisCsv(sink, bars, a);
    sink.flush();
    return out;
}

void writeStructuresJson(TextSink& out, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot) {
    out.put("{\n  \"source\": ");
    out.putJsonString(source);
    out.put(",\n  \"bars\": ");
    out.putInt(static_cast<long long>(bars.size()));
    out.put(",\n  \"strokes\": ");
    putMarks(out, a.strokes, bars, true);
    out.put(",\n  \"segments\": ");
    putMarks(out, a.segments, bars, true);
    out.put(",\n  \"pivots\": [");
    std::size_t written = 0;
    for (std::size_t p = 0; p < a.pivots.size(); ++p, ++written) {
        out.put(written ? ",\n    " : "\n    ");
        putPivot(out, a.pivots[p], a.runCounts[p], false, bars);
        out.written();
    }
    if (withOpenPivot && a.openPivot) {
        const float run = vlm::RunCountAfter(a.pivots, a.runCounts, *a.openPivot);
        out.put(written ? ",\n    " : "\n    ");
        putPivot(out, *a.openPivot, run, true, bars);
        ++written;
    }
    out.put(written ? "\n  ]" : "]");
    out.put(",\n  \"points\": ");
    putPoints(out, a.points, bars);
    out.put("\n}\n");
    out.written();
}

std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot) {
    std::string out;
    TextSink sink(out);
    writeStructuresJson(sink, source, bars, a, withOpenPivot);
    sink.flush();
    return out;
}

}  // namespace vlmstruct
