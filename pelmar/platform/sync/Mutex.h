#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#include "pelmar/platform/sync/ThreadAnnotations.h"

namespace pelmar {

// Mutex: a std::mutex that clang's thread-safety analysis knows as a lock, so that members marked
// PELMAR_GUARDED_BY(mutex_) are checked at compile time.
// Ownership: plain object, neither copyable nor movable; usually a member next to what it guards.
// Threads: thread-safe. Not recursive: locking it twice on one thread deadlocks.
// Errors: lock() throws std::system_error when the system refuses the lock, as std::mutex does.
class PELMAR_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() PELMAR_ACQUIRE() { mutex_.lock(); }

    void unlock() PELMAR_RELEASE() { mutex_.unlock(); }

    // True when the lock was free and is now held by the caller.
    bool try_lock() PELMAR_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    friend class CondVar;

    std::mutex mutex_;
};

// MutexLock: holds a Mutex from construction to the end of the scope, with an unlock() and a lock()
// again for a stretch in the middle that must run without it.
// Ownership: refers to the Mutex, which must outlive it; not copyable.
// Threads: thread-compatible; it is made, unlocked and destroyed on the thread that locked it.
// Errors: taking the lock fails as Mutex::lock() does.
class PELMAR_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) PELMAR_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }

    ~MutexLock() PELMAR_RELEASE() {
        if (held_) {
            mutex_.unlock();
        }
    }

    void unlock() PELMAR_RELEASE() {
        mutex_.unlock();
        held_ = false;
    }

    void lock() PELMAR_ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
    bool held_ = true;
};

// RecursiveMutex: a std::recursive_mutex the analysis knows as a lock, for a callback that may call
// back in on the thread that holds it. The analysis still reports a second lock of it within one
// function, so nested holds belong in separate functions.
// Ownership: plain object, neither copyable nor movable.
// Threads: thread-safe; the thread that holds it may lock it again (and unlocks it as often).
// Errors: none; as Mutex.
class PELMAR_CAPABILITY("mutex") RecursiveMutex {
public:
    RecursiveMutex() = default;

    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock() PELMAR_ACQUIRE() { mutex_.lock(); }

    void unlock() PELMAR_RELEASE() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// RecursiveMutexLock: holds a RecursiveMutex from construction to the end of the scope.
// Ownership: refers to the RecursiveMutex, which must outlive it; not copyable.
// Threads: used on one thread, like any scoped lock.
// Errors: none.
class PELMAR_SCOPED_CAPABILITY RecursiveMutexLock {
public:
    explicit RecursiveMutexLock(RecursiveMutex& mutex) PELMAR_ACQUIRE(mutex) : mutex_(mutex) {
        mutex_.lock();
    }

    ~RecursiveMutexLock() PELMAR_RELEASE() { mutex_.unlock(); }

    RecursiveMutexLock(const RecursiveMutexLock&) = delete;
    RecursiveMutexLock& operator=(const RecursiveMutexLock&) = delete;

private:
    RecursiveMutex& mutex_;
};

// SharedMutex: a std::shared_mutex the analysis knows as a lock with a read mode: members marked
// PELMAR_GUARDED_BY(mutex_) may be read under a ReaderMutexLock and written under a MutexLock.
// Ownership: plain object, neither copyable nor movable.
// Threads: thread-safe. Not recursive in either mode.
// Errors: none; as Mutex.
class PELMAR_CAPABILITY("shared mutex") SharedMutex {
public:
    SharedMutex() = default;

    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock() PELMAR_ACQUIRE() { mutex_.lock(); }

    void unlock() PELMAR_RELEASE() { mutex_.unlock(); }

    void lock_shared() PELMAR_ACQUIRE_SHARED() { mutex_.lock_shared(); }

    void unlock_shared() PELMAR_RELEASE_SHARED() { mutex_.unlock_shared(); }

private:
    std::shared_mutex mutex_;
};

// WriterMutexLock: holds a SharedMutex alone from construction to the end of the scope.
// Ownership: refers to the SharedMutex, which must outlive it; not copyable.
// Threads: used on one thread, like any scoped lock.
// Errors: none.
class PELMAR_SCOPED_CAPABILITY WriterMutexLock {
public:
    explicit WriterMutexLock(SharedMutex& mutex) PELMAR_ACQUIRE(mutex) : mutex_(mutex) {
        mutex_.lock();
    }

    ~WriterMutexLock() PELMAR_RELEASE() { mutex_.unlock(); }

    WriterMutexLock(const WriterMutexLock&) = delete;
    WriterMutexLock& operator=(const WriterMutexLock&) = delete;

private:
    SharedMutex& mutex_;
};

// ReaderMutexLock: holds a SharedMutex for reading, alongside other readers, to the end of the
// scope.
// Ownership: refers to the SharedMutex, which must outlive it; not copyable.
// Threads: used on one thread, like any scoped lock.
// Errors: none.
class PELMAR_SCOPED_CAPABILITY ReaderMutexLock {
public:
    explicit ReaderMutexLock(SharedMutex& mutex) PELMAR_ACQUIRE_SHARED(mutex) : mutex_(mutex) {
        mutex_.lock_shared();
    }

    ~ReaderMutexLock() PELMAR_RELEASE_GENERIC() { mutex_.unlock_shared(); }

    ReaderMutexLock(const ReaderMutexLock&) = delete;
    ReaderMutexLock& operator=(const ReaderMutexLock&) = delete;

private:
    SharedMutex& mutex_;
};

// CondVar: a condition variable that waits on a Mutex the caller holds. Waits may wake spuriously,
// so callers re-check their condition in a loop written in the function that holds the lock (where
// the analysis can see it).
// Ownership: plain object, not copyable.
// Threads: thread-safe; every wait on one CondVar must use the same Mutex.
// Errors: none.
class CondVar {
public:
    CondVar() = default;

    CondVar(const CondVar&) = delete;
    CondVar& operator=(const CondVar&) = delete;

    // Releases `mutex`, blocks until notified (or spuriously), then holds `mutex` again.
    void wait(Mutex& mutex) PELMAR_REQUIRES(mutex) {
        Adopted adopted(mutex);
        condition_.wait(adopted.lock);
    }

    // As wait(), but gives up at `deadline`. False when it returned because the deadline passed.
    template <class Clock, class Duration>
    bool waitUntil(Mutex& mutex, const std::chrono::time_point<Clock, Duration>& deadline)
            PELMAR_REQUIRES(mutex) {
        Adopted adopted(mutex);
        return condition_.wait_until(adopted.lock, deadline) == std::cv_status::no_timeout;
    }

    // As wait(), but gives up after `timeout`. False when it returned because the time ran out.
    template <class Rep, class Period>
    bool waitFor(Mutex& mutex, const std::chrono::duration<Rep, Period>& timeout)
            PELMAR_REQUIRES(mutex) {
        Adopted adopted(mutex);
        return condition_.wait_for(adopted.lock, timeout) == std::cv_status::no_timeout;
    }

    void notifyOne() noexcept { condition_.notify_one(); }

    void notifyAll() noexcept { condition_.notify_all(); }

private:
    // Lends the caller's held lock to std::condition_variable and hands it back still held,
    // even if the wait throws, so that the caller's MutexLock stays the one that releases it.
    struct Adopted {
        explicit Adopted(Mutex& mutex) : lock(mutex.mutex_, std::adopt_lock) {}

        ~Adopted() { lock.release(); }

        Adopted(const Adopted&) = delete;
        Adopted& operator=(const Adopted&) = delete;

        std::unique_lock<std::mutex> lock;
    };

    std::condition_variable condition_;
};

}  // namespace pelmar
