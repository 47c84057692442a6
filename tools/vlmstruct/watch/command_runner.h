#pragma once
// Runs a command per alert: `/bin/sh -c COMMAND` with the alert's JSON on
// its standard input, its standard output sent to standard error (standard
// output carries the events).

#include "watch/attempt.h"

#include <chrono>
#include <string>

namespace vlmstruct::watch {

struct Alert;

class CommandRunner {
public:
    explicit CommandRunner(std::string command) : command_(std::move(command)) {}

    // Delivered when the command exits with status 0 within `timeout`; one
    // still running then is killed, with whatever it started, and waited for.
    Attempt run(const Alert& alert, std::chrono::milliseconds timeout) const;

private:
    Attempt runOnce(const Alert& alert, std::chrono::milliseconds timeout) const;

    std::string command_;
};

}  // namespace vlmstruct::watch
