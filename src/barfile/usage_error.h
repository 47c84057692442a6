#pragma once

#include <stdexcept>

namespace vlmstruct {

// What the command line asked for cannot be done as asked (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace vlmstruct
