#pragma once
// The files vlmstruct writes. Every file is written whole or not at all.

#include <filesystem>
#include <string>

#include "analysis.h"

namespace vlmstruct {

// Writes to a temporary file beside `path`, then renames it over `path`.
void writeFileAtomically(const std::filesystem::path& path, const std::string& content);

// Shortest text that reads back as the same float ("nan", "inf" for those).
std::string formatFloat(float v);

// A JSON string literal (also safe inside an HTML script element).
std::string jsonString(const std::string& s);
// A JSON number; JSON has no NaN or infinity, so those are written as null.
std::string jsonNumber(float v);

std::string analysisCsv(const BarSeries& bars, const Analysis& a);
std::string structuresJson(const std::string& source, const BarSeries& bars, const Analysis& a,
                           bool withOpenPivot);

}  // namespace vlmstruct
