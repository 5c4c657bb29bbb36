#include "testing/internal/FaultScript.h"

#include <utility>

namespace pelmar::test::internal {

int FaultScript::add(Fault fault) {
    std::regex pattern(fault.pathPattern, std::regex::ECMAScript);
    MutexLock lock(faultMutex_);
    const int id = nextId_++;
    faults_.push_back({id, std::move(fault), std::move(pattern)});
    return id;
}

void FaultScript::remove(int id) {
    MutexLock lock(faultMutex_);
    std::erase_if(faults_, [id](const auto& fault) { return fault.id == id; });
}

void FaultScript::clear() {
    MutexLock lock(faultMutex_);
    faults_.clear();
}

std::optional<FaultScript::Fault> FaultScript::take(Role role,
                                                    const std::string& method,
                                                    const std::string& path) {
    MutexLock lock(faultMutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        const Fault& fault = it->fault;
        if ((fault.method.empty() || fault.method == method) && (!fault.role || *fault.role == role)
            && std::regex_match(path, it->pattern)) {
            Fault found = fault;
            if (!found.persistent) {
                faults_.erase(it);
            }
            return found;
        }
    }
    return std::nullopt;
}

void FaultScript::pause(const Fault& fault) {
    MutexLock lock(waitMutex_);
    if (fault.delay.count() > 0) {
        const auto deadline = std::chrono::steady_clock::now() + fault.delay;
        while (!stopping_ && waitChanged_.waitUntil(waitMutex_, deadline)) {
        }
    }
    if (fault.hold) {
        parkLocked();
    }
}

void FaultScript::park() {
    MutexLock lock(waitMutex_);
    parkLocked();
}

void FaultScript::parkLocked() {
    if (stopping_) {
        return;
    }
    const uint64_t generation = releaseGeneration_;
    ++held_;
    waitChanged_.notifyAll();
    while (!stopping_ && releaseGeneration_ == generation) {
        waitChanged_.wait(waitMutex_);
    }
    --held_;
}

void FaultScript::release() {
    {
        MutexLock lock(waitMutex_);
        ++releaseGeneration_;
    }
    waitChanged_.notifyAll();
}

void FaultScript::stop() {
    {
        MutexLock lock(waitMutex_);
        stopping_ = true;
    }
    waitChanged_.notifyAll();
}

size_t FaultScript::heldCount() const {
    MutexLock lock(waitMutex_);
    return held_;
}

bool FaultScript::waitForHeld(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(waitMutex_);
    while (held_ < count) {
        if (!waitChanged_.waitUntil(waitMutex_, deadline)) {
            return held_ >= count;
        }
    }
    return true;
}

}  // namespace pelmar::test::internal
