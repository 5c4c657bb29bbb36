#pragma once

#include <string_view>

// Diagnostics of the dispatch layer: misuse that would otherwise deadlock or corrupt state.
// Threads: thread-safe. Both write one line to stderr.

namespace pelmar::dispatch::internal {

// Writes "pelmar dispatch: <message>" and aborts the process.
[[noreturn]] void fatalMisuse(std::string_view message);

// Writes "pelmar dispatch: <message>" and returns.
void warnMisuse(std::string_view message);

}  // namespace pelmar::dispatch::internal
