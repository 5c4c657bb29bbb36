#include "pelmar/platform/dispatch/SteadyClock.h"

#include <chrono>

namespace pelmar::dispatch {

double SteadyClock::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

double SteadyClock::wallNow() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
}

}  // namespace pelmar::dispatch
