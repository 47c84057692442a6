#pragma once
// The files vlmstruct writes. The outputs of one command are written all or
// none: a failure leaves every existing output as it was.

#include <filesystem>
#include <stdexcept>
#include <string>
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
    // Throws, naming the file, when one cannot be written; a folder that does
    // not exist is not created.
    void commit();

private:
    struct Pending {
        std::filesystem::path path, temp;
        std::string content;
    };
    std::vector<Pending> pending_;
    std::string standardOutput_;
    bool toStandardOutput_ = false;
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

std::string analysisCsv(const BarSeries& bars, const Analysis& a);
std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot);

}  // namespace vlmstruct
