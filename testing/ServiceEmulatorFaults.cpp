// Scripted faults, delays and held requests (kept by internal::FaultScript).
#include <chrono>
#include <string>
#include <utility>

#include "testing/ServiceEmulator.h"
#include "testing/internal/ServiceEmulatorImpl.h"

namespace pelmar::test {

int ServiceEmulator::delaySession(std::chrono::milliseconds delay, bool persistent) {
    Fault fault;
    fault.method = "POST";
    fault.role = Role::Api;
    fault.pathPattern = "/v1/applications/[^/]+/session";
    fault.persistent = persistent;
    fault.delay = delay;
    return addFault(std::move(fault));
}

int ServiceEmulator::failSession(int status, std::string body, bool persistent) {
    Fault fault;
    fault.method = "POST";
    fault.role = Role::Api;
    fault.pathPattern = "/v1/applications/[^/]+/session";
    fault.persistent = persistent;
    fault.status = status;
    fault.body = std::move(body);
    return addFault(std::move(fault));
}

int ServiceEmulator::addFault(Fault fault) {
    return impl_->faults.add(std::move(fault));
}

void ServiceEmulator::removeFault(int id) {
    impl_->faults.remove(id);
}

void ServiceEmulator::clearFaults() {
    impl_->faults.clear();
}

size_t ServiceEmulator::heldCount() const {
    return impl_->faults.heldCount();
}

bool ServiceEmulator::waitForHeld(size_t count, std::chrono::milliseconds timeout) const {
    return impl_->faults.waitForHeld(count, timeout);
}

void ServiceEmulator::releaseHeld() {
    impl_->faults.release();
}

}  // namespace pelmar::test
