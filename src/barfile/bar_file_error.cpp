#include "barfile/bar_file_error.h"

#include <algorithm>

namespace vlmstruct {

namespace {

// The bytes of the UTF-8 sequence a lead byte starts.
std::size_t utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
}

}  // namespace

std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 60;
    std::string out;
    std::size_t shown = 0, i = 0;
    while (i < text.size() && shown < kShown) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t"
                 : std::string{'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
            ++i;
        } else {
            const std::size_t length = std::min(utf8Length(c), text.size() - i);
            out.append(text.substr(i, length));
            i += length;
        }
        ++shown;
    }
    if (i < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace vlmstruct
