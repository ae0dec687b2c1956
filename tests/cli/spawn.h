// Runs a program as a black box and captures what it prints and how it ends.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct SpawnRequest {
    // The program and any leading arguments (a wrapper and its target), as
    // words of a command prefix.
    std::vector<std::string> command;
    std::vector<std::string> arguments;
    // The start-up name to pass instead of command[0].
    std::optional<std::string> startName;
    // Start the program with no argument vector at all (argc 0).
    bool emptyArgv = false;
    // Variables set on top of this process's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    std::string workingDirectory;
    // Where the program's standard output goes: captured through a pipe,
    // the full device (every write fails with ENOSPC), or nowhere (closed).
    enum class Output { Captured, FullDevice, Closed } stdoutTo = Output::Captured;
    int timeoutSeconds = 60;
};

struct SpawnResult {
    std::string out;
    std::string err;
    bool exited = false;  // false: killed by a signal or timed out
    int status = -1;      // the exit status when it exited
    std::string failure;  // why the program could not be run, if it could not
};

SpawnResult spawn(const SpawnRequest& request);

// Splits a command prefix at spaces.
std::vector<std::string> splitCommand(const std::string& prefix);
