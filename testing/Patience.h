#pragma once

#include <chrono>

namespace pelmar::test {

// How long any wait of a test or of the test servers lasts at most. It is only a guard against
// hangs, never a timing assertion: every wait normally ends in milliseconds, and one that reaches
// this has met a fault (or a machine so loaded that nothing else would pass either). Kept apart
// from testing/Waits.h so that the test servers, which tools link as well, need no GoogleTest.
inline constexpr std::chrono::seconds kPatience{30};

}  // namespace pelmar::test
