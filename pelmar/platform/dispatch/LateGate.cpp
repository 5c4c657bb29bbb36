#include "pelmar/platform/dispatch/LateGate.h"

namespace pelmar::dispatch {

bool LateGate::tryAdmit() {
    const double now = clock().now();
    std::lock_guard lock(mutex_);
    if (admittedAt_.size() >= capacity_ || (!admittedAt_.empty() && admittedAt_.front() < now)) {
        return false;
    }
    admittedAt_.push_back(now);
    return true;
}

void LateGate::finish() {
    std::lock_guard lock(mutex_);
    if (!admittedAt_.empty()) {
        admittedAt_.pop_front();
    }
}

std::size_t LateGate::inFlight() const {
    std::lock_guard lock(mutex_);
    return admittedAt_.size();
}

}  // namespace pelmar::dispatch
