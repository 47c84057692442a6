#pragma once
// A running checksum of the bytes of the file already read (64-bit FNV-1a):
// a restart compares it with the file's bytes to tell that the bars it saw
// are unchanged.

#include <cstdint>
#include <string_view>

namespace vlmstruct::watch {

class Checksum {
public:
    void feed(std::string_view bytes) {
        std::uint64_t h = value_;
        for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
        value_ = h;
    }
    [[nodiscard]] std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 0xcbf29ce484222325ULL;
};

}  // namespace vlmstruct::watch
