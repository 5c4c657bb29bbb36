#include "pelmar/platform/dispatch/Semaphore.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>

#include "pelmar/platform/dispatch/internal/Timekeeper.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {

struct Semaphore::State {
    // One blocked wait. Its flags belong to State's mutex, which a guard annotation cannot name
    // from here, so only State's accessors below (which require that mutex) reach them.
    class Waiter {
    public:
        CondVar wake;

    private:
        friend struct State;
        bool granted_ = false;
        bool expired_ = false;
    };

    Mutex mutex;
    std::int64_t count PELMAR_GUARDED_BY(mutex) = 0;
    std::deque<std::shared_ptr<Waiter>> waiters PELMAR_GUARDED_BY(mutex);  // oldest first

    bool granted(const Waiter& waiter) const PELMAR_REQUIRES(mutex) { return waiter.granted_; }

    bool expired(const Waiter& waiter) const PELMAR_REQUIRES(mutex) { return waiter.expired_; }

    void grant(Waiter& waiter) PELMAR_REQUIRES(mutex) { waiter.granted_ = true; }

    void expire(Waiter& waiter) PELMAR_REQUIRES(mutex) { waiter.expired_ = true; }
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
    MutexLock lock(state->mutex);
    if (state->waiters.empty() && state->count > 0) {
        --state->count;
        return;
    }
    auto waiter = std::make_shared<State::Waiter>();
    state->waiters.push_back(waiter);
    while (!state->granted(*waiter)) {
        waiter->wake.wait(state->mutex);
    }
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
    auto waiter = std::make_shared<State::Waiter>();
    {
        MutexLock lock(state->mutex);
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
                    MutexLock lock(state->mutex);
                    state->expire(*waiter);
                }
                waiter->wake.notifyOne();
            },
            internal::Timekeeper::Target::Background);
    bool granted;
    {
        MutexLock lock(state->mutex);
        while (!state->granted(*waiter) && !state->expired(*waiter)) {
            waiter->wake.wait(state->mutex);
        }
        granted = state->granted(*waiter);
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
    std::shared_ptr<State::Waiter> woken;
    {
        MutexLock lock(state->mutex);
        if (state->waiters.empty()) {
            ++state->count;
            return false;
        }
        woken = std::move(state->waiters.front());
        state->waiters.pop_front();
        state->grant(*woken);
    }
    woken->wake.notifyOne();
    return true;
}

std::int64_t Semaphore::waitingCount() const {
    MutexLock lock(state_->mutex);
    return static_cast<std::int64_t>(state_->waiters.size());
}

}  // namespace pelmar::dispatch
