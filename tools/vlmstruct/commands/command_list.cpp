#include "command.h"

namespace vlmstruct {

// The commands in the order --help lists them. A new command is a file in
// this folder defining make<Name>Command(), and its name here.
#define VLM_COMMANDS(X) X(Analyze) X(Chart) X(Scan) X(Resample) X(Replay) X(Evaluate) X(Watch)

#define VLM_DECLARE_COMMAND(name) std::unique_ptr<Command> make##name##Command();
VLM_COMMANDS(VLM_DECLARE_COMMAND)
#undef VLM_DECLARE_COMMAND

CommandList allCommands() {
    CommandList list;
#define VLM_ADD_COMMAND(name) list.push_back(make##name##Command());
    VLM_COMMANDS(VLM_ADD_COMMAND)
#undef VLM_ADD_COMMAND
    return list;
}

}  // namespace vlmstruct
