#include "suggestions.h"

#include <algorithm>

namespace vlmstruct {

namespace {

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::vector<std::string> optionNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string& n : option->get_snames()) names.push_back("-" + n);
    }
    return names;
}

}  // namespace

std::string suggestion(const std::string& given, const std::vector<std::string>& valid) {
    std::string best;
    std::size_t distance = std::string::npos;
    for (const std::string& v : valid) {
        const std::size_t d = editDistance(given, v);
        if (d < distance) {
            distance = d;
            best = v;
        }
    }
    if (!best.empty() && distance <= std::max<std::size_t>(2, given.size() / 3)) {
        return "; did you mean '" + best + "'?";
    }
    std::string all;
    for (const std::string& v : valid) all += (all.empty() ? "" : ", ") + v;
    return " (valid: " + all + ")";
}

std::optional<std::string> unknownOption(const CLI::App& command, const std::vector<std::string>& args) {
    const std::vector<std::string> known = optionNames(command);
    for (const std::string& arg : args) {
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") continue;
        std::string name = arg.substr(0, arg.find('='));
        // -ofile is -o with its value attached.
        if (name[1] != '-') name = name.substr(0, 2);
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            return "unknown option '" + arg.substr(0, arg.find('=')) + "' for " + command.get_name() +
                   suggestion(name, known);
        }
    }
    return std::nullopt;
}

}  // namespace vlmstruct
