#pragma once

#include <memory>

namespace pelmar::dispatch {

// Clock: the time source that every timed thing in the SDK reads (timers, asyncAfter, timed waits,
// synthetic devices), so that tests can replace real time with a manual clock.
// Ownership: one process-wide clock is installed at a time and held by shared_ptr; `clock()`
//     returns a stable forwarder to whichever clock is installed.
// Threads: thread-safe (every implementation must be).
// Errors: none.
class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic seconds since an arbitrary origin.
    virtual double now() const = 0;

    // Seconds since the Unix epoch (UTC); may jump.
    virtual double wallNow() const = 0;

    // True when time moves only when someone moves it (ManualClock). Deadlines of a manual clock
    // fire on the thread that moves it; those of other clocks on a background timer thread, which
    // assumes the clock runs at the speed of real time.
    virtual bool isManual() const { return false; }
};

// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC, the origin of `absoluteTime()`.
inline constexpr double kAbsoluteTimeOffset = 978307200.0;

// The installed clock. The reference stays valid for the life of the process and always forwards
// to the clock installed at the time of each call.
Clock& clock();

// The installed clock itself (a SteadyClock until a test installs another).
std::shared_ptr<Clock> installedClock();

// Installs `newClock` (null restores a SteadyClock). Pending deadlines (timers, asyncAfter, timed
// waits) keep the time they still had to wait, measured on the new clock. Throws
// std::invalid_argument when given the forwarder that clock() returns.
void setClock(std::shared_ptr<Clock> newClock);

// Wall time in seconds since 2001-01-01 00:00:00 UTC: clock().wallNow() - kAbsoluteTimeOffset.
double absoluteTime();

}  // namespace pelmar::dispatch
