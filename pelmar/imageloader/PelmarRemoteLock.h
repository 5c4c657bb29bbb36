#pragma once

#include <pthread.h>

#include <string_view>
#include <utility>

#include "pelmar/platform/sync/ThreadAnnotations.h"

namespace pelmar {

enum class PelmarRemoteLockType {
    NonRecursive = 0,
    Recursive = 1,
};

// PelmarRemoteLock: the image loader's mutex, plain or recursive, known to clang's thread-safety
// analysis as a lock: members marked PELMAR_GUARDED_BY(lock_) are read and written under a
// PelmarRemoteLock::Hold. The name given at creation is for the reader of the code only.
// Ownership: a value owned by the object it guards; not copyable or movable.
// Threads: thread-safe. A NonRecursive lock must not be taken again by the thread holding it.
// Errors: none.
class PELMAR_CAPABILITY("mutex") PelmarRemoteLock {
public:
    // Holds the lock from construction to the end of the scope.
    class PELMAR_SCOPED_CAPABILITY Hold {
    public:
        explicit Hold(PelmarRemoteLock& lock) PELMAR_ACQUIRE(lock) : lock_(lock) { lock_.lock(); }

        ~Hold() PELMAR_RELEASE() { lock_.unlock(); }

        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        PelmarRemoteLock& lock_;
    };

    explicit PelmarRemoteLock(std::string_view name = {},
                              PelmarRemoteLockType type = PelmarRemoteLockType::NonRecursive);

    ~PelmarRemoteLock();

    PelmarRemoteLock(const PelmarRemoteLock&) = delete;
    PelmarRemoteLock& operator=(const PelmarRemoteLock&) = delete;

    void lock() PELMAR_ACQUIRE();

    void unlock() PELMAR_RELEASE();

    // Runs `block` holding the lock; returns what it returns.
    template <class F>
    decltype(auto) lockWithBlock(F&& block) PELMAR_EXCLUDES(this) {
        Hold hold(*this);
        return std::forward<F>(block)();
    }

private:
    pthread_mutex_t mutex_;
};

}  // namespace pelmar
