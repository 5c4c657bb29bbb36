#pragma once

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// RunProgram: runs a command-line tool the way a user would from a shell, for the tools' own
// tests: arguments already quoted, standard input closed, standard output and error captured
// (together, or apart with RunProgramApart).
// Ownership: nothing is kept after the call returns.
// Threads: thread-safe.
// Errors: throws std::runtime_error when the shell cannot be started.

namespace pelmar::test {

struct ProgramResult {
    int status = -1;  // exit status; -1 when the process ended on a signal
    std::string output;
    std::string errors;  // standard error, from RunProgramApart only
};

// Runs `command` through the shell; its standard output into `output`.
inline int RunShellCommand(const std::string& command, std::string& output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = ::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output and error together in `output`.
inline ProgramResult RunProgram(const std::string& program, const std::string& args) {
    ProgramResult result;
    result.status = RunShellCommand(program + " " + args + " </dev/null 2>&1", result.output);
    return result;
}

// Standard output in `output`, standard error in `errors`.
inline ProgramResult RunProgramApart(const std::string& program, const std::string& args) {
    char path[] = "/tmp/pelmar-stderr-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("cannot make a file for standard error");
    }
    ::close(fd);
    ProgramResult result;
    result.status = RunShellCommand(
            program + " " + args + " </dev/null 2>'" + std::string(path) + "'", result.output);
    std::ifstream errors(path, std::ios::binary);
    result.errors.assign(std::istreambuf_iterator<char>(errors), {});
    ::unlink(path);
    return result;
}

}  // namespace pelmar::test
