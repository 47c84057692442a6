#pragma once
// What is wrong with a bar file, and how a message shows the text at fault.

#include <stdexcept>
#include <string>
#include <string_view>

namespace vlmstruct {

// Names the file and, where there is one, the line, the column and the text.
class BarFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Offending text as a message shows it: at most 60 characters, control
// characters escaped, so that no input can flood or steer a terminal.
std::string excerpt(std::string_view text);

}  // namespace vlmstruct
