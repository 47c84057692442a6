#pragma once

#include <string>

namespace vlmstruct {

// Shortest text that reads back as the same float ("nan", "inf" for those),
// as std::to_chars writes it.
std::string formatFloat(float v);
// The same text, appended: for writers of many numbers.
void appendFloat(std::string& out, float v);
// The same text at `out`, which has room for kFloatTextSize characters;
// returns its end.
inline constexpr std::size_t kFloatTextSize = 32;
char* writeFloat(char* out, float v);

// Shortest text that reads back as the same double, spelled as formatFloat
// spells floats (a volume: 14840, 2.5, 9007199254740992).
std::string formatDouble(double v);

}  // namespace vlmstruct
