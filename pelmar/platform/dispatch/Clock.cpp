#include "pelmar/platform/dispatch/Clock.h"

#include <stdexcept>

#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

namespace {

// What clock() returns: a stable object that reads whichever clock is installed.
class InstalledClock final : public Clock {
public:
    double now() const override { return installedClock()->now(); }

    double wallNow() const override { return installedClock()->wallNow(); }

    bool isManual() const override { return installedClock()->isManual(); }
};

}  // namespace

Clock& clock() {
    static InstalledClock* forwarder = new InstalledClock();  // never destroyed
    return *forwarder;
}

std::shared_ptr<Clock> installedClock() {
    return internal::Timekeeper::instance().clock();
}

void setClock(std::shared_ptr<Clock> newClock) {
    if (newClock.get() == &clock()) {
        throw std::invalid_argument("setClock: the forwarder of clock() cannot be installed");
    }
    internal::Timekeeper::instance().setClock(std::move(newClock));
}

double absoluteTime() {
    return clock().wallNow() - kAbsoluteTimeOffset;
}

}  // namespace pelmar::dispatch
