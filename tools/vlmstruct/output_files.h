#pragma once
// The files vlmstruct writes. The outputs of one command are written all or
// none: a failure leaves every existing output as it was.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis.h"
#include "float_text.h"

namespace vlmstruct {

// What the command line asked for cannot be done as asked (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "-" stands for standard output.
inline bool isStandardOutput(const std::string& path) { return path == "-"; }

// Refuses, before anything is read or written, outputs that would collide:
// two outputs on one file, an output over an input, more than one "-".
// `outputs` pairs each option with its path; empty paths are outputs not asked for.
void checkOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs,
                      const std::vector<std::filesystem::path>& inputs);

// Text made in large pieces: appended to a string, or written to a file
// each time a megabyte has gathered, so that a long output is never held
// whole in memory. Writers append to text() and call written() after each
// row or object.
class TextSink {
public:
    explicit TextSink(std::string& into) : text_(&into) {}
    // `name` is the destination that messages name.
    TextSink(std::FILE* file, std::string name) : text_(&own_), file_(file), name_(std::move(name)) {
        own_.reserve(2 * kFlushAt);
    }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    std::string& text() { return *text_; }
    void put(std::string_view s) { text_->append(s); }
    void put(char c) { text_->push_back(c); }
    void putFloat(float v) { appendFloat(*text_, v); }
    void putInt(long long v);
    void written() {
        if (file_ != nullptr && text_->size() >= kFlushAt) flush();
    }
    // Throws, naming the destination, when the file cannot take it.
    void flush();

private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
    std::string own_;
    std::string* text_;
    std::FILE* file_ = nullptr;
    std::string name_;
};

// Each output is written to a temporary file beside its destination, and
// only when all of them are written (and standard output has taken its
// part) are they renamed into place. Temporaries never outlive the set.
class OutputFiles {
public:
    OutputFiles() = default;
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;
    ~OutputFiles();

    void add(std::string path, std::string content);
    // The output's temporary file, to be written as it is made; standard
    // output's part is kept aside until commit. Throws, naming the file,
    // when it cannot be made; a folder that does not exist is not created.
    TextSink& open(std::string path);
    // Throws, naming the file, when one cannot be written.
    void commit();

private:
    struct Pending {
        std::filesystem::path path, temp;  // temp empty: standard output
        std::FILE* file = nullptr;
        std::unique_ptr<TextSink> sink;
    };
    std::vector<Pending> pending_;
    void removeTemporaries() noexcept;
};

// One file, by the same route.
void writeFileAtomically(const std::filesystem::path& path, const std::string& content);

// A JSON string literal (also safe inside an HTML script element).
std::string jsonString(const std::string& s);
void appendJsonString(std::string& out, std::string_view s);
// A JSON number; JSON has no NaN or infinity, so those are written as null.
std::string jsonNumber(float v);
// Doubles (forces, ratios) in the shortest text that reads back the same.
std::string jsonNumber(double v);
void appendJsonNumber(std::string& out, float v);
void appendJsonNumber(std::string& out, double v);

// One trading point as the JSON `points` list writes it, and the list.
std::string pointJson(const vlm::TradingPoint& point, const BarSeries& bars);
std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars);

void writeAnalysisCsv(TextSink& out, const BarSeries& bars, const Analysis& a);
void writeStructuresJson(TextSink& out, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot);
std::string analysisCsv(const BarSeries& bars, const Analysis& a);
std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot);

}  // namespace vlmstruct
