// Our own profile-file layer where the system has none: sections in square
// brackets, key=value lines, names matched without regard to ASCII case,
// values without their surrounding white space. Files are UTF-8; a byte that
// is not part of a well-formed sequence is carried through untouched, so a
// damaged file keeps its line and section structure when a value is written.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "settings/profile_file.h"

namespace vlm::profile {

namespace {

// A stray byte b is held as the code point kEscapedByte + b while the file is
// in memory and written back as that same byte.
constexpr std::uint32_t kEscapedByte = 0xDC00;

std::string toUtf8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF) {
            out += static_cast<char>(c - kEscapedByte);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Only shortest-form sequences of real code points are decoded; anything else
// (a lone continuation byte, a cut-off or overlong sequence, a surrogate) is a
// stray byte. Decoding those leniently could turn "\xC0\x8A" into a line break
// and split a line when the file is written back.
std::wstring fromUtf8(const std::string& s) {
    std::wstring out;
    const auto byte = [&s](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i])); };
    const auto continuation = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    for (std::size_t i = 0; i < s.size();) {
        const std::uint32_t c = byte(i);
        const std::size_t extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        const std::uint32_t low = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;  // shortest form's floor
        std::uint32_t cp = extra == 0 ? c : c & (0x3Fu >> extra);
        bool wellFormed = c < 0x80 || extra > 0;
        for (std::size_t k = 1; wellFormed && k <= extra; ++k) {
            wellFormed = continuation(i + k);
            if (wellFormed) cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
        wellFormed = wellFormed && (extra == 0 || cp >= low) && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (wellFormed) {
            out += static_cast<wchar_t>(cp);
            i += extra + 1;
        } else {
            out += static_cast<wchar_t>(kEscapedByte + c);
            i += 1;
        }
    }
    return out;
}

std::wstring trim(const std::wstring& s) {
    const auto first = s.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos) return {};
    return s.substr(first, s.find_last_not_of(L" \t\r") - first + 1);
}

bool sameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> readLines(const wchar_t* path) {
    std::ifstream in(toUtf8(path), std::ios::binary);
    std::vector<std::wstring> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(fromUtf8(line));
    }
    return lines;
}

bool isSection(const std::wstring& line, std::wstring* name) {
    const std::wstring t = trim(line);
    if (t.size() < 2 || t.front() != L'[') return false;
    const auto close = t.find(L']');
    if (close == std::wstring::npos) return false;
    *name = trim(t.substr(1, close - 1));
    return true;
}

// Finds the key's line within the section; returns its index or -1, and
// sets *sectionEnd to the line after the section's last line (or -1).
long findKey(const std::vector<std::wstring>& lines, const std::wstring& section,
             const std::wstring& key, long* sectionEnd) {
    bool inside = false;
    *sectionEnd = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::wstring name;
        if (isSection(lines[i], &name)) {
            if (inside) return -1;
            inside = sameName(name, section);
            if (inside) *sectionEnd = static_cast<long>(i) + 1;
            continue;
        }
        if (!inside) continue;
        if (!trim(lines[i]).empty()) *sectionEnd = static_cast<long>(i) + 1;
        const auto eq = lines[i].find(L'=');
        if (eq != std::wstring::npos && sameName(trim(lines[i].substr(0, eq)), key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

bool lookUp(const wchar_t* section, const wchar_t* key, const wchar_t* path, std::wstring* value) {
    const std::vector<std::wstring> lines = readLines(path);
    long end = -1;
    const long at = findKey(lines, section, key, &end);
    if (at < 0) return false;
    const std::wstring& line = lines[static_cast<std::size_t>(at)];
    *value = trim(line.substr(line.find(L'=') + 1));
    return true;
}

}  // namespace

int GetInt(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path) {
    std::wstring value;
    if (!lookUp(section, key, path, &value) || value.empty()) return fallback;
    std::size_t i = 0;
    bool negative = false;
    if (value[i] == L'+' || value[i] == L'-') negative = value[i++] == L'-';
    std::uint32_t result = 0;  // wraps as the system's unsigned arithmetic does
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
        result = result * 10u + static_cast<std::uint32_t>(value[i] - L'0');
    }
    return static_cast<int>(negative ? 0u - result : result);
}

std::size_t GetString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                      wchar_t* buffer, std::size_t size, const wchar_t* path) {
    if (buffer == nullptr || size == 0) return 0;
    std::wstring value;
    if (!lookUp(section, key, path, &value)) value = fallback != nullptr ? fallback : L"";
    const std::size_t n = std::min(value.size(), size - 1);
    value.copy(buffer, n);
    buffer[n] = L'\0';
    return n;
}

bool WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                 const wchar_t* path) {
    std::vector<std::wstring> lines = readLines(path);
    long end = -1;
    const long at = findKey(lines, section, key, &end);
    const std::wstring entry = std::wstring(key) + L"=" + value;
    if (at >= 0) {
        lines[static_cast<std::size_t>(at)] = entry;
    } else if (end >= 0) {
        lines.insert(lines.begin() + end, entry);
    } else {
        if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back(L"[" + std::wstring(section) + L"]");
        lines.push_back(entry);
    }
    std::ofstream out(toUtf8(path), std::ios::binary | std::ios::trunc);
    for (const std::wstring& line : lines) out << toUtf8(line) << "\r\n";
    out.flush();
    return static_cast<bool>(out);
}

double TextToDouble(const wchar_t* text) {
    std::wstring s(text);
    std::size_t i = 0;
    while (i < s.size() && std::iswspace(static_cast<wint_t>(s[i]))) ++i;
    const std::size_t start = i;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && std::iswdigit(static_cast<wint_t>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == L'.') {
        ++i;
        while (i < s.size() && std::iswdigit(static_cast<wint_t>(s[i]))) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    if (i < s.size() && (s[i] == L'e' || s[i] == L'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == L'+' || s[j] == L'-')) ++j;
        if (j < s.size() && std::iswdigit(static_cast<wint_t>(s[j]))) {
            while (j < s.size() && std::iswdigit(static_cast<wint_t>(s[j]))) ++j;
            i = j;
        }
    }
    return std::wcstod(s.substr(start, i - start).c_str(), nullptr);
}

}  // namespace vlm::profile
