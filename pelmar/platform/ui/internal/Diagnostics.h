#pragma once

#include <string_view>

// Diagnostics of the ui layer. Threads: thread-safe; each writes one line to stderr.

namespace pelmar::ui::internal {

// Writes "pelmar ui: <message>" and returns (the call that triggered it is ignored).
void warn(std::string_view message);

// Aborts with a message unless the caller is on the main thread; `what` names the call.
void requireMainThread(std::string_view what);

}  // namespace pelmar::ui::internal
