#pragma once

#include <atomic>
#include <utility>

#include "testing/ServiceEmulator.h"

// EmulatorSettings: how the emulator was asked to run: the Options given at construction, which
// start() reads, and whether API requests must carry a session, which may change at any time.
// Ownership: a value inside the emulator.
// Threads: thread-safe (the options are fixed at construction; the session rule is atomic).
// Errors: none.

namespace pelmar::test::internal {

class EmulatorSettings {
public:
    explicit EmulatorSettings(ServiceEmulator::Options options)
        : options_(std::move(options)), requireSession_(options_.requireSession) {}

    const ServiceEmulator::Options& options() const { return options_; }

    bool requireSession() const { return requireSession_; }

    void setRequireSession(bool required) { requireSession_ = required; }

private:
    const ServiceEmulator::Options options_;
    std::atomic<bool> requireSession_;
};

}  // namespace pelmar::test::internal
