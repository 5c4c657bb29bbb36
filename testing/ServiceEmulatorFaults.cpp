// Scripted faults, delays and held requests.
#include <chrono>
#include <regex>
#include <string>
#include <utility>

#include "testing/ServiceEmulator.h"
#include "testing/internal/ServiceEmulatorImpl.h"

namespace pelmar::test {

std::optional<ServiceEmulator::Fault> ServiceEmulator::Impl::takeFault(Role role,
                                                                       const std::string& method,
                                                                       const std::string& path) {
    MutexLock lock(faultMutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const Fault& fault = it->fault;
        if ((fault.method.empty() || fault.method == method) && (!fault.role || *fault.role == role)
            && std::regex_match(path, it->pattern)) {
            Fault found = fault;
            if (!found.persistent) {
                faults.erase(it);
            }
            return found;
        }
    }
    return std::nullopt;
}

void ServiceEmulator::Impl::pause(const Fault& fault) {
    MutexLock lock(waitMutex);
    if (fault.delay.count() > 0) {
        const auto deadline = std::chrono::steady_clock::now() + fault.delay;
        while (!stopping && waitChanged.waitUntil(waitMutex, deadline)) {
        }
    }
    if (fault.hold) {
        parkUntilReleased();
    }
}

void ServiceEmulator::Impl::parkUntilReleased() {
    if (stopping) {
        return;
    }
    const uint64_t generation = releaseGeneration;
    ++held;
    waitChanged.notifyAll();
    while (!stopping && releaseGeneration == generation) {
        waitChanged.wait(waitMutex);
    }
    --held;
}

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
    std::regex pattern(fault.pathPattern, std::regex::ECMAScript);
    MutexLock lock(impl_->faultMutex);
    const int id = impl_->nextFaultId++;
    impl_->faults.push_back({id, std::move(fault), std::move(pattern)});
    return id;
}

void ServiceEmulator::removeFault(int id) {
    MutexLock lock(impl_->faultMutex);
    std::erase_if(impl_->faults, [id](const auto& fault) { return fault.id == id; });
}

void ServiceEmulator::clearFaults() {
    MutexLock lock(impl_->faultMutex);
    impl_->faults.clear();
}

size_t ServiceEmulator::heldCount() const {
    MutexLock lock(impl_->waitMutex);
    return impl_->held;
}

bool ServiceEmulator::waitForHeld(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(impl_->waitMutex);
    while (impl_->held < count) {
        if (!impl_->waitChanged.waitUntil(impl_->waitMutex, deadline)) {
            return impl_->held >= count;
        }
    }
    return true;
}

void ServiceEmulator::releaseHeld() {
    {
        MutexLock lock(impl_->waitMutex);
        ++impl_->releaseGeneration;
    }
    impl_->waitChanged.notifyAll();
}

}  // namespace pelmar::test
