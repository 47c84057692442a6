#pragma once
// What a column of a bar file or a DataFrame holds, from its header name.
// The reader and the Python module both ask here, so a name means the same
// thing everywhere.

#include <string>
#include <string_view>

namespace vlmstruct {

// Time is a time of day beside a date column, or the whole timestamp when
// there is no date column.
enum class Column { Date, Time, Open, High, Low, Close, Volume, Ignored };

inline constexpr std::size_t kColumnRoles = 7;  // every Column but Ignored

// Any ASCII case, surrounding white space ignored; unknown names are Ignored.
Column columnOf(std::string_view name);

// "date", "high", ...; "" for Ignored.
const char* roleName(Column c);

// The names taken for one role, comma separated.
std::string namesOf(Column role);

// The names accepted for each role, for messages: "date: date, trade_date, ...; time: ...".
std::string acceptedNames();

}  // namespace vlmstruct
