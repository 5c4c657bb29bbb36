#include "pelmar/platform/dispatch/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/internal/MainQueue.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// Longest wait a caller may ask for; keeps time-point arithmetic far from overflow.
constexpr double kMaxWaitSeconds = 1e7;

void checkDuration(double seconds, const char* what) {
    if (std::isnan(seconds) || seconds < 0) {
        throw std::invalid_argument(std::string(what) + ": the duration must be >= 0");
    }
}

SteadyTime steadyAfter(double seconds) {
    return std::chrono::steady_clock::now()
           + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(std::min(seconds, kMaxWaitSeconds)));
}

internal::MainQueue& enter() {
    auto& queue = internal::MainQueue::instance();
    queue.enterRunLoop();
    return queue;
}

}  // namespace

bool RunLoop::runOnce() {
    return enter().runTurn() > 0;
}

std::size_t RunLoop::runUntilIdle() {
    auto& queue = enter();
    std::size_t total = 0;
    for (std::size_t turn = 0; turn < kMaxIdleTurns; ++turn) {
        const auto ran = queue.runTurn();
        if (ran == 0) {
            break;
        }
        total += ran;
    }
    return total;
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    checkDuration(timeoutSeconds, "RunLoop::runUntil");
    auto& queue = enter();
    const auto deadline = steadyAfter(timeoutSeconds);
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (queue.runTurn() > 0) {
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return predicate();
        }
        queue.waitForWork(std::min(deadline, steadyAfter(kPredicatePollSeconds)));
    }
}

void RunLoop::runFor(double seconds) {
    checkDuration(seconds, "RunLoop::runFor");
    if (installedClock()->isManual()) {
        advance(seconds);
        return;
    }
    auto& queue = enter();
    const double end = clock().now() + seconds;
    for (;;) {
        if (queue.runTurn() > 0) {
            continue;
        }
        const double left = end - clock().now();
        if (left <= 0) {
            return;
        }
        queue.waitForWork(steadyAfter(left));
    }
}

void RunLoop::advance(double seconds) {
    checkDuration(seconds, "RunLoop::advance");
    auto manual = std::dynamic_pointer_cast<ManualClock>(installedClock());
    if (!manual) {
        runFor(seconds);
        return;
    }
    if (std::isinf(seconds)) {
        // A manual clock cannot reach the end of time, and a repeating timer would fire forever.
        throw std::invalid_argument(
                "RunLoop::advance: a manual clock moves only a finite duration");
    }
    enter();
    auto& keeper = internal::Timekeeper::instance();
    const double end = manual->now() + seconds;
    runUntilIdle();
    for (;;) {
        if (installedClock() != manual) {
            return;  // a block installed another clock; time is no longer ours to move
        }
        const auto next = keeper.nextDeadline();
        if (!next || *next > end + internal::Timekeeper::kEpsilon) {
            break;
        }
        manual->setNow(std::clamp(*next, manual->now(), end));
        runUntilIdle();
    }
    if (manual->now() < end) {
        manual->setNow(end);
    }
    runUntilIdle();
}

void RunLoop::wakeUp() {
    internal::MainQueue::instance().wakeUp();
}

bool RunLoop::mayRunOnThisThread() {
    return internal::MainQueue::instance().mayEnterRunLoop();
}

}  // namespace pelmar::dispatch
