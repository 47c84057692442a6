#include "settings/settings.h"

#include <cwchar>

#include "settings/profile_file.h"

namespace vlm {

namespace {

// Copies the path when it fits with its terminator; false otherwise.
bool bindPath(const wchar_t* path, wchar_t (&buffer)[kProfileTextSize]) {
    if (path == nullptr) return false;
    const std::size_t length = std::wcslen(path);
    if (length >= kProfileTextSize) return false;
    std::wmemcpy(buffer, path, length);
    return true;
}

// "%f": six decimals, so a default passes through the same text a written
// value would.
void formatFloat(float value, wchar_t (&text)[kProfileTextSize]) {
    std::swprintf(text, kProfileTextSize, L"%f", static_cast<double>(value));
}

const wchar_t* boolText(bool value) { return value ? L"True" : L"False"; }

}  // namespace

ProfileReader::ProfileReader(const wchar_t* path) : usable_(bindPath(path, path_)) {}

int ProfileReader::ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const {
    return usable_ ? profile::GetInt(section, key, fallback, path_) : fallback;
}

float ProfileReader::ReadFloat(const wchar_t* section, const wchar_t* key, float fallback) const {
    wchar_t szDefault[kProfileTextSize] = {};
    wchar_t szResult[kProfileTextSize] = {};
    formatFloat(fallback, szDefault);
    if (!usable_) return static_cast<float>(profile::TextToDouble(szDefault));
    profile::GetString(section, key, szDefault, szResult, kProfileTextSize, path_);
    return static_cast<float>(profile::TextToDouble(szResult));
}

bool ProfileReader::ReadBool(const wchar_t* section, const wchar_t* key, bool fallback) const {
    wchar_t szResult[kProfileTextSize] = {};
    if (!usable_) return fallback;
    profile::GetString(section, key, boolText(fallback), szResult, kProfileTextSize, path_);
    return std::wcscmp(szResult, L"True") == 0 || std::wcscmp(szResult, L"true") == 0;
}

std::unique_ptr<wchar_t[]> ProfileReader::ReadString(const wchar_t* section, const wchar_t* key,
                                                     const wchar_t* fallback) const {
    auto text = std::make_unique<wchar_t[]>(kProfileTextSize);
    if (usable_) {
        profile::GetString(section, key, fallback, text.get(), kProfileTextSize, path_);
    } else if (fallback != nullptr) {
        std::wcsncpy(text.get(), fallback, kProfileTextSize - 1);
    }
    return text;
}

ProfileWriter::ProfileWriter(const wchar_t* path) : usable_(bindPath(path, path_)) {}

bool ProfileWriter::WriteInt(const wchar_t* section, const wchar_t* key, int value) const {
    wchar_t szValue[kProfileTextSize] = {};
    std::swprintf(szValue, kProfileTextSize, L"%d", value);
    return WriteString(section, key, szValue);
}

bool ProfileWriter::WriteFloat(const wchar_t* section, const wchar_t* key, float value) const {
    wchar_t szValue[kProfileTextSize] = {};
    formatFloat(value, szValue);
    return WriteString(section, key, szValue);
}

bool ProfileWriter::WriteBool(const wchar_t* section, const wchar_t* key, bool value) const {
    return WriteString(section, key, boolText(value));
}

bool ProfileWriter::WriteString(const wchar_t* section, const wchar_t* key,
                                const wchar_t* value) const {
    return usable_ && profile::WriteString(section, key, value, path_);
}

}  // namespace vlm
