#pragma once
// A command of the tool: it declares itself and its options, and runs once
// the command line is parsed.

#include <CLI/CLI.hpp>

#include <memory>
#include <vector>

namespace vlmstruct {

class Command {
public:
    Command() = default;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;
    virtual ~Command() = default;

    // Adds the command and its options to `app`; returns the command.
    virtual CLI::App* declare(CLI::App& app) = 0;
    // Runs the command as parsed; returns the exit status. Throws UsageError
    // for what the command line asked wrongly, anything else for bad input.
    virtual int run() = 0;
};

using CommandList = std::vector<std::unique_ptr<Command>>;

// Every command, in the order --help lists them (commands/command_list.cpp).
CommandList allCommands();

}  // namespace vlmstruct
