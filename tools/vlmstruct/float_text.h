#pragma once

#include <string>

namespace vlmstruct {

// Shortest text that reads back as the same float ("nan", "inf" for those).
std::string formatFloat(float v);
// The same text, appended: for writers of many numbers.
void appendFloat(std::string& out, float v);

}  // namespace vlmstruct
