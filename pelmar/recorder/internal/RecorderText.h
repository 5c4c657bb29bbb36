#pragma once

#include <string>

// Text helpers of the recorder. Threads: thread-safe.

namespace pelmar::internal {

// The shortest text that reads back as `value`, with ".0" on whole numbers ("3.0", "0.1").
std::string shortestDouble(double value);

// A process-wide unique name: an uppercase random UUID followed by a counter.
std::string globallyUniqueString();

// "MM:SS" of whole seconds (negative counts as 0).
std::string minutesSeconds(long long seconds);

}  // namespace pelmar::internal
