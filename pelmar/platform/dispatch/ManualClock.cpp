#include "pelmar/platform/dispatch/ManualClock.h"

#include <cmath>
#include <stdexcept>

#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

ManualClock::ManualClock(double start, double wallStart) : now_(start), wall_(wallStart) {
    if (!std::isfinite(start) || !std::isfinite(wallStart)) {
        throw std::invalid_argument("ManualClock: start times must be finite");
    }
}

double ManualClock::now() const {
    MutexLock lock(mutex_);
    return now_;
}

double ManualClock::wallNow() const {
    MutexLock lock(mutex_);
    return wall_;
}

void ManualClock::advance(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        throw std::invalid_argument("ManualClock::advance: the step must be finite and >= 0");
    }
    {
        MutexLock lock(mutex_);
        now_ += seconds;
        wall_ += seconds;
    }
    internal::Timekeeper::instance().fireDue(this);
}

void ManualClock::setNow(double seconds) {
    if (!std::isfinite(seconds)) {
        throw std::invalid_argument("ManualClock::setNow: the time must be finite");
    }
    {
        MutexLock lock(mutex_);
        if (seconds < now_) {
            throw std::invalid_argument("ManualClock::setNow: monotonic time cannot go back");
        }
        wall_ += seconds - now_;
        now_ = seconds;
    }
    internal::Timekeeper::instance().fireDue(this);
}

void ManualClock::setWallNow(double seconds) {
    if (!std::isfinite(seconds)) {
        throw std::invalid_argument("ManualClock::setWallNow: the time must be finite");
    }
    MutexLock lock(mutex_);
    wall_ = seconds;
}

}  // namespace pelmar::dispatch
