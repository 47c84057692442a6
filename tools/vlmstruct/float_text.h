#pragma once

#include <string>

namespace vlmstruct {

// Shortest text that reads back as the same float ("nan", "inf" for those).
std::string formatFloat(float v);

}  // namespace vlmstruct
