#pragma once

#include <memory>
#include <utility>

#include "pelmar/platform/sync/Mutex.h"

// SharedInstance: the slot of a process-wide instance that is made on first use and that tests may
// drop again: however many threads ask at once, one instance is made and all of them get it.
// Ownership: holds the instance; take() hands it over (the caller tears it down).
// Threads: thread-safe. `make` runs under the slot's lock, so it must not ask the same slot again.
// Errors: what `make` throws reaches the caller of get(), and the slot stays empty.

namespace pelmar::audio::internal {

template <class T>
class SharedInstance {
public:
    template <class Make>
    std::shared_ptr<T> get(Make&& make) {
        MutexLock lock(mutex_);
        if (!instance_) {
            instance_ = std::forward<Make>(make)();
        }
        return instance_;
    }

    // Empties the slot and returns what it held (null when empty).
    std::shared_ptr<T> take() {
        MutexLock lock(mutex_);
        return std::exchange(instance_, nullptr);
    }

private:
    Mutex mutex_;
    std::shared_ptr<T> instance_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::audio::internal
