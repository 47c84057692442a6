#pragma once
// The files vlmstruct writes. The outputs of one command are written whole
// or not at all, never half: a failure while they are made leaves every
// existing output as it was (see OutputFiles for the one exception).

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// Text made in large pieces: gathered in a buffer of its own, with numbers
// formatted straight into it, and handed on each time a megabyte has
// gathered (to a file, or to a string), so that a long output is never held
// whole in memory. Writers call written() after each row or object, and
// flush() at the end.
class TextSink {
public:
    explicit TextSink(std::string& into);
    // `name` is the destination that messages name.
    TextSink(std::FILE* file, std::string name);
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    void put(char c) {
        room(1);
        *end_++ = c;
    }
    void put(std::string_view s) {
        room(s.size());
        end_ = std::copy(s.begin(), s.end(), end_);  // an empty view may have no data
    }
    // Room for `n` characters at the end, for a writer that makes its text
    // in place; took() then takes what it wrote, up to `end`.
    char* space(std::size_t n) {
        room(n);
        return end_;
    }
    void took(char* end) { end_ = end; }
    // Text already made, however long, handed on as it is.
    void putBlock(std::string_view s);
    void putFloat(float v);  // formatFloat's text
    void putInt(long long v);
    // A JSON number (null for NaN and infinities) and string, as jsonNumber
    // and jsonString write them.
    void putJsonNumber(float v);
    void putJsonNumber(double v);
    void putJsonString(std::string_view s);
    // The bar's date, "" without dates.
    void putDate(const BarSeries& bars, std::size_t bar);

    void written() {
        if (static_cast<std::size_t>(end_ - buffer_.get()) >= kFlushAt) flush();
    }
    // Hands on what has gathered. Throws, naming the destination, when a file
    // cannot take it.
    void flush();

private:
    static constexpr std::size_t kFlushAt = std::size_t{64} << 10;
    void room(std::size_t n) {
        if (static_cast<std::size_t>(limit_ - end_) < n) grow(n);
    }
    void grow(std::size_t n);

    std::unique_ptr<char[]> buffer_;
    char* end_ = nullptr;
    char* limit_ = nullptr;
    std::string* string_ = nullptr;
    std::FILE* file_ = nullptr;
    std::string name_;
};

// Each output is written to a temporary file beside its destination (standard
// output's part kept aside), and only when all of them are written are they
// renamed into place, one after another; standard output gets its part last,
// once every file is in place, since what it has taken cannot be taken back.
// So a failure while the outputs are made changes nothing. The one exception
// is a rename that fails (the destination turned into a folder meanwhile,
// say): the files renamed before it stay replaced, and the message names
// them; the others, and standard output, are left as they were. Should
// standard output then refuse its part (a closed pipe), every file has been
// written, and the message says so. Temporaries never outlive the set, and
// no output is ever half-written.
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
    // Closes the files, renames them into place, then writes standard
    // output's part. Throws, naming the file, when one cannot be written or
    // put in place (and which were, see above).
    void commit();

private:
    struct Pending {
        std::filesystem::path path, temp;  // temp empty: standard output
        std::FILE* file = nullptr;
        std::unique_ptr<std::string> held;  // standard output's part, where no file could keep it
        std::unique_ptr<TextSink> sink;
    };
    std::vector<Pending> pending_;
    void removeTemporaries() noexcept;
};

// One file, by the same route.
void writeFileAtomically(const std::filesystem::path& path, const std::string& content);

// A JSON string literal (also safe inside an HTML script element).
std::string jsonString(const std::string& s);
// A JSON number; JSON has no NaN or infinity, so those are written as null.
std::string jsonNumber(float v);
// Doubles (forces, ratios) in the shortest text that reads back the same.
std::string jsonNumber(double v);

// One trading point as the JSON `points` list writes it, and the list.
std::string pointJson(const vlm::TradingPoint& point, const BarSeries& bars);
std::string pointsJson(const std::vector<vlm::TradingPoint>& points, const BarSeries& bars);

void writeAnalysisCsv(TextSink& out, const BarSeries& bars, const Analysis& a);
void writeStructuresJson(TextSink& out, const std::string& source, const BarSeries& bars, const Analysis& a,
                         bool withOpenPivot);
// Into a string, for callers that want it whole.
std::string analysisCsv(const BarSeries& bars, const Analysis& a);
std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot);

}  // namespace vlmstruct
