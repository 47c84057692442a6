#pragma once
// Typed values in a profile (INI) file: integers, floats, booleans and text.
// Not used by any calculation; carried only by the 32-bit library.

#include <memory>

namespace vlm {

inline constexpr int kProfileTextSize = 255;  // every path and text buffer, terminator included

// A path longer than 254 characters is refused rather than cut to another
// file's name: reads then give their default and writes report failure.
class ProfileReader {
public:
    explicit ProfileReader(const wchar_t* path);
    [[nodiscard]] int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const;
    [[nodiscard]] float ReadFloat(const wchar_t* section, const wchar_t* key, float fallback) const;
    [[nodiscard]] bool ReadBool(const wchar_t* section, const wchar_t* key, bool fallback) const;
    // A new buffer of 255 characters that frees itself.
    [[nodiscard]] std::unique_ptr<wchar_t[]> ReadString(const wchar_t* section, const wchar_t* key,
                                                        const wchar_t* fallback) const;

private:
    wchar_t path_[kProfileTextSize] = {};
    bool usable_ = false;
};

class ProfileWriter {
public:
    explicit ProfileWriter(const wchar_t* path);
    bool WriteInt(const wchar_t* section, const wchar_t* key, int value) const;
    bool WriteFloat(const wchar_t* section, const wchar_t* key, float value) const;
    bool WriteBool(const wchar_t* section, const wchar_t* key, bool value) const;
    bool WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value) const;

private:
    wchar_t path_[kProfileTextSize] = {};
    bool usable_ = false;
};

}  // namespace vlm
