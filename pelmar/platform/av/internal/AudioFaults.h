#pragma once

#include <algorithm>
#include <cmath>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av::internal {

// FaultSwitch: a process-wide set of injected failures of one class, read at each step.
// Ownership: a static of the class it serves. Threads: thread-safe. Errors: none.
template <typename Faults>
class FaultSwitch {
public:
    void set(Faults faults) {
        MutexLock lock(mutex_);
        faults_ = faults;
    }

    Faults get() {
        MutexLock lock(mutex_);
        return faults_;
    }

private:
    Mutex mutex_;
    Faults faults_ PELMAR_GUARDED_BY(mutex_){};
};

// A linear amplitude (1.0 = full scale) in dBFS, floored at -160.
inline float amplitudeToDecibels(double amplitude) {
    if (amplitude <= 0) {
        return -160;
    }
    return std::max(-160.0f, static_cast<float>(20 * std::log10(amplitude)));
}

}  // namespace pelmar::av::internal
