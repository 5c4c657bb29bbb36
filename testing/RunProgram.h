#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <stdexcept>
#include <string>

// RunProgram: runs a command-line tool the way a user would from a shell, for the tools' own
// tests: arguments already quoted, standard input closed, standard output and error captured.
// Ownership: nothing is kept after the call returns.
// Threads: thread-safe.
// Errors: throws std::runtime_error when the shell cannot be started.

namespace pelmar::test {

struct ProgramResult {
    int status = -1;  // exit status; -1 when the process ended on a signal
    std::string output;
};

inline ProgramResult RunProgram(const std::string& program, const std::string& args) {
    FILE* pipe = ::popen((program + " " + args + " </dev/null 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + program);
    }
    ProgramResult result;
    char buffer[4096];
    size_t n = 0;
    while ((n = ::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace pelmar::test
