#pragma once

#include <cstdio>
#include <string_view>

// PrintLine: writes one diagnostic line of the streaming library to standard output, ended by a
// newline and flushed, as one unit so lines of different threads never mix.
// Ownership: none.
// Threads: thread-safe.
// Errors: none (output failures are ignored).

namespace pelmar::live::internal {

inline void PrintLine(std::string_view text) {
    ::flockfile(stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    ::funlockfile(stdout);
}

}  // namespace pelmar::live::internal
