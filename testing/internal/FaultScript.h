#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/ServiceEmulator.h"

// FaultScript: the emulator's scripted faults and the requests they delay or hold: which fault a
// request meets (the first match in the order added; a one-shot fault is used up), the wait a
// fault asks for, and the park where held requests and held answers wait for release() or stop().
// Ownership: a value inside the emulator.
// Threads: thread-safe; one mutex for the faults and one for the waits, never nested.
// Errors: add() throws std::regex_error for a bad path pattern.

namespace pelmar::test::internal {

class FaultScript {
public:
    using Fault = ServiceEmulator::Fault;

    int add(Fault fault);

    void remove(int id);

    void clear();

    // The fault a request meets, or none.
    std::optional<Fault> take(Role role, const std::string& method, const std::string& path);

    // Waits the fault's delay, then parks when it holds (both end early at stop()).
    void pause(const Fault& fault);

    // Counts the caller as held until release() or stop().
    void park();

    void release();

    // Wakes every wait for good: later pauses and parks return at once.
    void stop();

    size_t heldCount() const;

    // Waits until at least `count` callers are held; false on time-out.
    bool waitForHeld(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Scripted {
        int id = 0;
        Fault fault;
        std::regex pattern;
    };

    void parkLocked() PELMAR_REQUIRES(waitMutex_);

    mutable Mutex faultMutex_;
    std::vector<Scripted> faults_ PELMAR_GUARDED_BY(faultMutex_);
    int nextId_ PELMAR_GUARDED_BY(faultMutex_) = 1;

    mutable Mutex waitMutex_;
    mutable CondVar waitChanged_;
    bool stopping_ PELMAR_GUARDED_BY(waitMutex_) = false;
    size_t held_ PELMAR_GUARDED_BY(waitMutex_) = 0;
    uint64_t releaseGeneration_ PELMAR_GUARDED_BY(waitMutex_) = 0;
};

}  // namespace pelmar::test::internal
