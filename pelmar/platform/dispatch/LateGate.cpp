#include "pelmar/platform/dispatch/LateGate.h"

namespace pelmar::dispatch {

bool LateGate::tryAdmit() {
    const double now = clock().now();
    MutexLock lock(mutex_);
    if (admittedAt_.size() >= capacity_ || (!admittedAt_.empty() && admittedAt_.front() < now)) {
        return false;
    }
    admittedAt_.push_back(now);
    return true;
}

void LateGate::finish() {
    MutexLock lock(mutex_);
    if (!admittedAt_.empty()) {
        admittedAt_.pop_front();
    }
}

std::size_t LateGate::inFlight() const {
    MutexLock lock(mutex_);
    return admittedAt_.size();
}

}  // namespace pelmar::dispatch
