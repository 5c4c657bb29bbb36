#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// TrafficCounters: what the emulator counts of the requests it serves: session calls, and the
// storage uploads being received at once with the most seen at the same time.
// Ownership: a value inside the emulator; an UploadInFlight refers to it and must end first.
// Threads: thread-safe.
// Errors: none.

namespace pelmar::test::internal {

class TrafficCounters {
public:
    // Counts one storage upload as in flight from construction to destruction.
    class UploadInFlight {
    public:
        explicit UploadInFlight(TrafficCounters& counters);

        ~UploadInFlight();

        UploadInFlight(const UploadInFlight&) = delete;
        UploadInFlight& operator=(const UploadInFlight&) = delete;

    private:
        TrafficCounters& counters_;
    };

    void countSessionCall() { ++sessionCalls_; }

    int64_t sessionCalls() const { return sessionCalls_; }

    size_t maxUploadsInFlight() const { return maxUploadsInFlight_; }

private:
    std::atomic<int64_t> sessionCalls_{0};
    std::atomic<size_t> uploadsInFlight_{0};
    std::atomic<size_t> maxUploadsInFlight_{0};
};

}  // namespace pelmar::test::internal
