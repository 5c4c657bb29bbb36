#pragma once

#include <pthread.h>

#include <string_view>
#include <utility>

namespace pelmar {

enum class PelmarRemoteLockType {
    NonRecursive = 0,
    Recursive = 1,
};

// PelmarRemoteLock: the image loader's mutex, plain or recursive. Usable with std::lock_guard.
// The name given at creation is for the reader of the code only; it is not kept.
// Ownership: a value owned by the object it guards; not copyable or movable.
// Threads: thread-safe. A NonRecursive lock must not be taken again by the thread holding it.
// Errors: none.
class PelmarRemoteLock {
public:
    explicit PelmarRemoteLock(std::string_view name = {},
                              PelmarRemoteLockType type = PelmarRemoteLockType::NonRecursive);

    ~PelmarRemoteLock();

    PelmarRemoteLock(const PelmarRemoteLock&) = delete;
    PelmarRemoteLock& operator=(const PelmarRemoteLock&) = delete;

    void lock();

    void unlock();

    // Runs `block` holding the lock; returns what it returns.
    template <class F>
    decltype(auto) lockWithBlock(F&& block) {
        struct Unlock {
            PelmarRemoteLock& lock;

            ~Unlock() { lock.unlock(); }
        };

        lock();
        Unlock unlock{*this};
        return std::forward<F>(block)();
    }

private:
    pthread_mutex_t mutex_;
};

}  // namespace pelmar
