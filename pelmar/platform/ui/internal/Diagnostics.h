#pragma once

#include <string_view>

// Diagnostics: the ui layer's warnings, one line each to the log sink (foundation/Log), and its
// main-thread checks, whose last words before the abort go straight to stderr.
// Ownership: free functions.
// Threads: thread-safe.
// Errors: requireMainThread aborts the process off the main thread; warn never fails.

namespace pelmar::ui::internal {

// Writes "pelmar ui: <message>" and returns (the call that triggered it is ignored).
void warn(std::string_view message);

// Aborts with a message unless the caller is on the main thread; `what` names the call.
void requireMainThread(std::string_view what);

// requireMainThread in debug builds; nothing in release builds, where views and controls trust
// their callers.
#ifdef NDEBUG
inline void assertMainThread(std::string_view /*what*/) {}
#else
inline void assertMainThread(std::string_view what) {
    requireMainThread(what);
}
#endif

}  // namespace pelmar::ui::internal
