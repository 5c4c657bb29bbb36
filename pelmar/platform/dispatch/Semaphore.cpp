#include "pelmar/platform/dispatch/Semaphore.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

namespace {

struct Waiter {
    std::condition_variable wake;
    bool granted = false;  // guarded by State::mutex
    bool expired = false;  // guarded by State::mutex
};

}  // namespace

struct Semaphore::State {
    std::mutex mutex;
    std::int64_t count = 0;                       // guarded by mutex
    std::deque<std::shared_ptr<Waiter>> waiters;  // guarded by mutex; oldest first
};

Semaphore::Semaphore(std::int64_t count) : state_(std::make_shared<State>()) {
    if (count < 0) {
        throw std::invalid_argument("Semaphore: the count must be >= 0");
    }
    state_->count = count;
}

Semaphore::~Semaphore() = default;

void Semaphore::wait() {
    auto state = state_;
    std::unique_lock lock(state->mutex);
    if (state->waiters.empty() && state->count > 0) {
        --state->count;
        return;
    }
    auto waiter = std::make_shared<Waiter>();
    state->waiters.push_back(waiter);
    waiter->wake.wait(lock, [&] { return waiter->granted; });
}

bool Semaphore::waitFor(double seconds) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("Semaphore::waitFor: the timeout is NaN");
    }
    if (seconds == INFINITY) {
        wait();
        return true;
    }
    auto& keeper = internal::Timekeeper::instance();
    // Measured from the call, however late the deadline is registered below.
    const double deadlineTime = keeper.deadlineAfter(seconds);
    auto state = state_;
    auto waiter = std::make_shared<Waiter>();
    {
        std::lock_guard lock(state->mutex);
        if (state->waiters.empty() && state->count > 0) {
            --state->count;
            return true;
        }
        if (seconds <= 0) {
            return false;
        }
        state->waiters.push_back(waiter);
    }
    const auto deadline = keeper.scheduleAt(
            deadlineTime,
            [state, waiter] {
                {
                    std::lock_guard lock(state->mutex);
                    waiter->expired = true;
                }
                waiter->wake.notify_one();
            },
            internal::Timekeeper::Target::Background);
    bool granted;
    {
        std::unique_lock lock(state->mutex);
        waiter->wake.wait(lock, [&] { return waiter->granted || waiter->expired; });
        granted = waiter->granted;
        if (!granted) {
            auto& waiters = state->waiters;
            waiters.erase(std::find(waiters.begin(), waiters.end(), waiter));
        }
    }
    keeper.cancel(deadline);
    return granted;
}

bool Semaphore::signal() {
    // A woken waiter may destroy the semaphore before this returns; keep its state alive.
    auto state = state_;
    std::shared_ptr<Waiter> woken;
    {
        std::lock_guard lock(state->mutex);
        if (state->waiters.empty()) {
            ++state->count;
            return false;
        }
        woken = std::move(state->waiters.front());
        state->waiters.pop_front();
        woken->granted = true;
    }
    woken->wake.notify_one();
    return true;
}

std::int64_t Semaphore::waitingCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<std::int64_t>(state_->waiters.size());
}

}  // namespace pelmar::dispatch
