#pragma once
// A value of a bar file's row read by the general rule: any number from_chars
// reads, with thousands separators where they are allowed. Internal to the
// bar-file reader.

#include <cstddef>
#include <string_view>

namespace vlmstruct::reading {

enum class Number { Ok, Empty, NotANumber, OutOfRange };

// Any number from_chars reads in the general format, blanks around it
// ignored, rounded once to the nearest float (a price) or double (a volume).
// A price too small for a float is 0, one too large infinite (and refused as
// such by the value rules); a number beyond a double's range is out of range.
// With `thousands`, 1,234,567 is read as 1234567. `readable` bytes from
// text.data() on may be read (any fewer than text.size() count as that many),
// for the short readers' word at a time.
template <typename T>
Number parseNumber(std::string_view text, bool thousands, T& value, std::size_t readable = 0);

}  // namespace vlmstruct::reading
