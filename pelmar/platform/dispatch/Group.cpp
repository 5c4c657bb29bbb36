#include "pelmar/platform/dispatch/Group.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::dispatch {

struct Group::State {
    using Notification = std::pair<std::shared_ptr<Queue>, std::function<void()>>;

    Mutex mutex;
    CondVar emptied;
    std::int64_t count PELMAR_GUARDED_BY(mutex) = 0;
    std::uint64_t emptyings PELMAR_GUARDED_BY(mutex) = 0;  // times the count fell to zero
    std::vector<Notification> notifications PELMAR_GUARDED_BY(mutex);

    // The deadline of one waitFor(). Its flag belongs to State's mutex, which a guard annotation
    // cannot name from here, so only State's accessors below (which require that mutex) reach it.
    class Expiry {
        friend struct State;
        bool expired_ = false;
    };

    bool expired(const Expiry& expiry) const PELMAR_REQUIRES(mutex) { return expiry.expired_; }

    void expire(Expiry& expiry) PELMAR_REQUIRES(mutex) { expiry.expired_ = true; }
};

Group::Group() : state_(std::make_shared<State>()) {}

Group::~Group() = default;

void Group::enter() {
    MutexLock lock(state_->mutex);
    ++state_->count;
}

void Group::leave() {
    // A woken waiter may destroy the group before this returns; keep its state alive.
    auto state = state_;
    std::vector<State::Notification> due;
    {
        MutexLock lock(state->mutex);
        if (state->count == 0) {
            internal::warnMisuse("Group::leave() without a matching enter() ignored");
            return;
        }
        if (--state->count > 0) {
            return;
        }
        ++state->emptyings;
        due.swap(state->notifications);
    }
    state->emptied.notifyAll();
    for (auto& [queue, block] : due) {
        queue->async(std::move(block));
    }
}

void Group::notify(const std::shared_ptr<Queue>& queue, std::function<void()> block) {
    if (!queue || !block) {
        throw std::invalid_argument("Group::notify: the queue and the block are required");
    }
    {
        MutexLock lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

void Group::wait() {
    auto state = state_;
    MutexLock lock(state->mutex);
    const auto seen = state->emptyings;
    while (state->count != 0 && state->emptyings == seen) {
        state->emptied.wait(state->mutex);
    }
}

bool Group::waitFor(double seconds) {
    if (std::isnan(seconds)) {
        throw std::invalid_argument("Group::waitFor: the timeout is NaN");
    }
    if (seconds == INFINITY) {
        wait();
        return true;
    }
    auto& keeper = internal::Timekeeper::instance();
    // Measured from the call, however late the deadline is registered below.
    const double deadlineTime = keeper.deadlineAfter(seconds);
    auto state = state_;
    std::uint64_t seen;
    {
        MutexLock lock(state->mutex);
        if (state->count == 0) {
            return true;
        }
        if (seconds <= 0) {
            return false;
        }
        seen = state->emptyings;
    }
    auto expiry = std::make_shared<State::Expiry>();
    const auto deadline = keeper.scheduleAt(
            deadlineTime,
            [state, expiry] {
                {
                    MutexLock lock(state->mutex);
                    state->expire(*expiry);
                }
                state->emptied.notifyAll();
            },
            internal::Timekeeper::Target::Background);
    bool reached;
    {
        MutexLock lock(state->mutex);
        while (state->count != 0 && state->emptyings == seen && !state->expired(*expiry)) {
            state->emptied.wait(state->mutex);
        }
        reached = state->count == 0 || state->emptyings != seen;
    }
    keeper.cancel(deadline);
    return reached;
}

}  // namespace pelmar::dispatch
