// The real profile API of the system.
#include <windows.h>

#include <cstdlib>

#include "settings/profile_file.h"

namespace vlm::profile {

int GetInt(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path) {
    return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, path));
}

std::size_t GetString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                      wchar_t* buffer, std::size_t size, const wchar_t* path) {
    return GetPrivateProfileStringW(section, key, fallback, buffer, static_cast<DWORD>(size), path);
}

bool WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                 const wchar_t* path) {
    return WritePrivateProfileStringW(section, key, value, path) != FALSE;
}

double TextToDouble(const wchar_t* text) { return _wtof(text); }

}  // namespace vlm::profile
