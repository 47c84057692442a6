#pragma once
// What a mistyped command or option was probably meant to be.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vlmstruct {

// "; did you mean 'x'?" when one valid name is close, else the list of them.
std::string suggestion(const std::string& given, const std::vector<std::string>& valid);

// The first argument that looks like an option and is not one of `command`'s,
// as a message with a suggestion.
std::optional<std::string> unknownOption(const CLI::App& command, const std::vector<std::string>& args);

}  // namespace vlmstruct
