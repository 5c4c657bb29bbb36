#pragma once

#include "pelmar/platform/dispatch/Clock.h"

namespace pelmar::dispatch {

// SteadyClock: the production clock; monotonic time from the system's steady clock, wall time from
// the system clock.
// Ownership: plain object, usually held by shared_ptr as the installed clock.
// Threads: thread-safe.
// Errors: none.
class SteadyClock final : public Clock {
public:
    double now() const override;

    double wallNow() const override;
};

}  // namespace pelmar::dispatch
