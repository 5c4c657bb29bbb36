#include "pelmar/platform/dispatch/Group.h"

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/internal/Diagnostics.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

struct Group::State {
    using Notification = std::pair<std::shared_ptr<Queue>, std::function<void()>>;

    std::mutex mutex;
    std::condition_variable emptied;
    std::int64_t count = 0;                   // guarded by mutex
    std::uint64_t emptyings = 0;              // guarded by mutex; times the count fell to zero
    std::vector<Notification> notifications;  // guarded by mutex
};

Group::Group() : state_(std::make_shared<State>()) {}

Group::~Group() = default;

void Group::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void Group::leave() {
    // A woken waiter may destroy the group before this returns; keep its state alive.
    auto state = state_;
    std::vector<State::Notification> due;
    {
        std::lock_guard lock(state->mutex);
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
    state->emptied.notify_all();
    for (auto& [queue, block] : due) {
        queue->async(std::move(block));
    }
}

void Group::notify(const std::shared_ptr<Queue>& queue, std::function<void()> block) {
    if (!queue || !block) {
        throw std::invalid_argument("Group::notify: the queue and the block are required");
    }
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

void Group::wait() {
    auto state = state_;
    std::unique_lock lock(state->mutex);
    const auto seen = state->emptyings;
    state->emptied.wait(lock, [&] { return state->count == 0 || state->emptyings != seen; });
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
        std::lock_guard lock(state->mutex);
        if (state->count == 0) {
            return true;
        }
        if (seconds <= 0) {
            return false;
        }
        seen = state->emptyings;
    }
    auto expired = std::make_shared<bool>(false);  // guarded by state->mutex
    const auto deadline = keeper.scheduleAt(
            deadlineTime,
            [state, expired] {
                {
                    std::lock_guard lock(state->mutex);
                    *expired = true;
                }
                state->emptied.notify_all();
            },
            internal::Timekeeper::Target::Background);
    bool reached;
    {
        std::unique_lock lock(state->mutex);
        state->emptied.wait(
                lock, [&] { return state->count == 0 || state->emptyings != seen || *expired; });
        reached = state->count == 0 || state->emptyings != seen;
    }
    keeper.cancel(deadline);
    return reached;
}

}  // namespace pelmar::dispatch
