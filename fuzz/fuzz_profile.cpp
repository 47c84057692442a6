// Our profile-file layer on arbitrary file contents: reads never fail or
// overrun, and a written value reads back as written.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>

#include "settings/profile_file.h"

namespace {
std::wstring widen(const std::string& s) {
    std::wstring w;
    for (unsigned char c : s) w += static_cast<wchar_t>(c < 0x20 || c == '=' || c == '[' || c == ']' ? L'_' : c);
    return w;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/vlm-fuzz-profile-" + std::to_string(::getpid()) + ".ini";
    static const std::wstring widePath(path.begin(), path.end());
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    // Section and key names taken from the input itself, so they often exist.
    const std::size_t cut = bytes.find('\n');
    const std::string head = bytes.substr(0, std::min<std::size_t>(cut, 12));
    const std::wstring section = widen(head.substr(0, head.size() / 2));
    const std::wstring key = widen(head.substr(head.size() / 2)) + L"k";

    wchar_t buffer[8];
    std::wmemset(buffer, L'#', 8);
    const std::size_t n = vlm::profile::GetString(section.c_str(), key.c_str(), L"fallback", buffer, 6, widePath.c_str());
    if (n > 5 || buffer[n] != L'\0' || buffer[6] != L'#' || buffer[7] != L'#') std::abort();
    (void)vlm::profile::GetInt(section.c_str(), key.c_str(), 3, widePath.c_str());
    (void)vlm::profile::TextToDouble(widen(bytes.substr(0, 40)).c_str());

    if (!vlm::profile::WriteString(section.c_str(), key.c_str(), L"value 42", widePath.c_str())) std::abort();
    wchar_t back[64];
    vlm::profile::GetString(section.c_str(), key.c_str(), L"", back, 64, widePath.c_str());
    // Names are matched without their surrounding white space.
    const auto plain = [](const std::wstring& s) {
        return !s.empty() && s.find_first_not_of(L" \t") == 0 && s.find_last_not_of(L" \t") == s.size() - 1;
    };
    if (plain(section) && plain(key) && std::wcscmp(back, L"value 42") != 0) {
        std::fprintf(stderr, "written value did not read back\n");
        std::abort();
    }
    return 0;
}
