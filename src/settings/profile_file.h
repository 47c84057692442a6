#pragma once
// The profile-file calls the settings utility relies on. On Windows they are
// the system's own; elsewhere a small layer of ours gives the same answers.

#include <cstddef>

namespace vlm::profile {

// The key's integer value, or `fallback` when the file, section or key is
// missing or the value is empty. Leading white space and a sign are taken;
// the number stops at the first character that cannot continue it.
int GetInt(const wchar_t* section, const wchar_t* key, int fallback, const wchar_t* path);

// Copies the key's text (or `fallback` when missing) into `buffer`, cut to
// size - 1 characters and terminated; returns the characters copied.
std::size_t GetString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                      wchar_t* buffer, std::size_t size, const wchar_t* path);

// Sets the key's text, creating the file, section and key as needed.
bool WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                 const wchar_t* path);

// The runtime's wide-text-to-double: leading white space skipped, the
// number ends at the first character that cannot continue it, 0.0 if none.
double TextToDouble(const wchar_t* text);

}  // namespace vlm::profile
