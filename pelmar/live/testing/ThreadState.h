#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "testing/Patience.h"

// ThreadState: lets a test wait until another of its threads is blocked (asleep in the kernel,
// waiting on a lock, a condition or a socket), read from /proc, so that a test can act on a thread
// it knows to be waiting rather than guess with a sleep.
// Ownership: free functions.
// Threads: thread-safe.
// Errors: none; false when the thread does not block within the time-out.

namespace pelmar::test {

// The calling thread's kernel id.
inline pid_t CurrentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The state letter of thread `tid` of this process ('R' running, 'S' sleeping, ...), or 0.
inline char ThreadStateOf(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto end = text.rfind(") ");
    return end == std::string::npos || end + 2 >= text.size() ? '\0' : text[end + 2];
}

// True once thread `tid` has been seen asleep on many looks in a row: a thread that only passes
// through a short wait is not taken for one that stays blocked.
inline bool WaitUntilBlocked(pid_t tid, std::chrono::milliseconds timeout = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int asleep = 0;
    while (asleep < 200) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        asleep = ThreadStateOf(tid) == 'S' ? asleep + 1 : 0;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace pelmar::test
