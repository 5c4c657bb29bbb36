#pragma once

#include <string>

// Text helpers of the recorder. Threads: thread-safe.

namespace pelmar::recorder::internal {

// The shortest text that reads back as `value`, with ".0" on whole numbers ("3.0", "0.1").
std::string shortestDouble(double value);

// A process-wide unique name: an uppercase random UUID followed by a counter.
std::string globallyUniqueString();

// "MM:SS" of whole seconds (negative counts as 0).
std::string minutesSeconds(long long seconds);

// A recording's duration label after `elapsed` seconds: the elapsed time, or with a limit above 0
// the time left (never below 0), each rounded up from .6 of a second ("MM:SS").
std::string durationLabelText(double elapsed, double limit);

}  // namespace pelmar::recorder::internal
