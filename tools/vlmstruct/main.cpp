// vlmstruct: the plug-in's nine functions on bar files, outside the host.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <optional>

#include "barfile/usage_error.h"
#include "command.h"
#include "command_options.h"
#include "suggestions.h"

namespace {

using namespace vlmstruct;

// Parses the command line; the exit status when it is refused or asks for
// help or the version, nothing when a command is to run.
std::optional<int> parse(CLI::App& app, int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
    const auto named = std::find_if(args.begin(), args.end(), [](const std::string& a) { return a.empty() || a[0] != '-'; });
    if (named != args.end() && std::find(commands.begin(), commands.end(), *named) == commands.end()) {
        std::cerr << "vlmstruct: unknown command '" << *named << "'" << suggestion(*named, commands)
                  << "\nRun with --help for more information.\n";
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        if (named != args.end()) {
            const std::vector<std::string> rest(named + 1, args.end());
            if (const auto unknown = unknownOption(*app.get_subcommand(*named), rest)) message = *unknown;
        } else if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
            message = "a command is required: analyze, chart, scan, resample, replay, evaluate or watch";
        }
        std::cerr << "vlmstruct: " << message << "\nRun with --help for more information.\n";
        return kUsage;
    }
    return std::nullopt;
}

int run(Command& command) {
    try {
        return command.run();
    } catch (const UsageError& e) {
        std::cerr << "vlmstruct: " << e.what() << "\n";
        return kUsage;
    } catch (const std::exception& e) {
        std::cerr << "vlmstruct: " << e.what() << "\n";
        return kBadInput;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vlmstruct: strokes, segments and pivot zones of bar files, exactly as the plug-in computes them"};
    app.set_version_flag("--version", std::string("vlmstruct ") + VLM_VERSION);
    app.footer(kExitStatus);
    app.require_subcommand(1);
    const CommandList commands = allCommands();
    std::vector<CLI::App*> declared;
    for (const auto& command : commands) declared.push_back(command->declare(app));
    if (const auto refused = parse(app, argc, argv)) return *refused;
    for (std::size_t k = 0; k < commands.size(); ++k) {
        if (*declared[k]) return run(*commands[k]);
    }
    return 0;
}
