#pragma once

#include <string_view>

namespace vlmstruct {

// The text without the spaces and tabs around it.
inline std::string_view trimBlanks(std::string_view s) {
    std::size_t first = 0, last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t')) ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t')) --last;
    return s.substr(first, last - first);
}

}  // namespace vlmstruct
