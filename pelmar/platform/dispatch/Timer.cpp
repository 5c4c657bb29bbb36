#include "pelmar/platform/dispatch/Timer.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/internal/MainQueue.h"
#include "pelmar/platform/dispatch/internal/Timekeeper.h"

namespace pelmar::dispatch {

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Action action) {
    if (std::isnan(interval)) {
        throw std::invalid_argument("Timer::scheduled: the interval is NaN");
    }
    if (!action) {
        throw std::invalid_argument("Timer::scheduled: the action is empty");
    }
    auto timer = std::make_shared<Timer>(Key{}, std::max(interval, kMinimumInterval), repeats,
                                         std::move(action),
                                         internal::MainQueue::instance().generation());
    timer->arm(1);
    return timer;
}

std::shared_ptr<Timer> Timer::scheduled(double interval,
                                        bool repeats,
                                        std::function<void()> action) {
    if (!action) {
        throw std::invalid_argument("Timer::scheduled: the action is empty");
    }
    return scheduled(interval, repeats, Action([action = std::move(action)](Timer&) { action(); }));
}

Timer::Timer(Key, double interval, bool repeats, Action action, std::uint64_t generation)
    : interval_(interval),
      repeats_(repeats),
      generation_(generation),
      start_(clock().now()),
      action_(std::make_shared<const Action>(std::move(action))) {}

Timer::~Timer() = default;

void Timer::arm(std::uint64_t index) {
    // The deadline holds the timer: the run loop keeps a scheduled timer alive.
    auto self = shared_from_this();
    const auto id = internal::Timekeeper::instance().scheduleAt(
            start_ + static_cast<double>(index) * interval_,
            [self, index] {
                internal::MainQueue::instance().postIfGeneration(
                        self->generation_, [self, index] { self->fire(index); });
            },
            internal::Timekeeper::Target::Main);
    bool keep;
    {
        MutexLock lock(mutex_);
        keep = valid_;
        if (keep) {
            deadlineId_ = id;
        }
    }
    if (!keep) {
        internal::Timekeeper::instance().cancel(id);
    }
}

void Timer::fire(std::uint64_t index) {
    if (!isValid()) {
        return;
    }
    std::shared_ptr<const Action> action;
    {
        MutexLock lock(mutex_);
        action = action_;
    }
    if (!action) {
        return;  // invalidated from another thread just now
    }
    (*action)(*this);
    if (!repeats_) {
        invalidate();
        return;
    }
    // Next fire on the original grid, strictly after the current time.
    const double now = clock().now() + internal::Timekeeper::kEpsilon;
    auto next = index + 1;
    if (start_ + static_cast<double>(next) * interval_ <= now) {
        next = static_cast<std::uint64_t>(std::floor((now - start_) / interval_)) + 1;
        while (start_ + static_cast<double>(next) * interval_ <= now) {
            ++next;
        }
    }
    arm(next);
}

void Timer::invalidate() {
    std::shared_ptr<const Action> released;  // destroyed after the lock is released
    std::uint64_t id;
    {
        MutexLock lock(mutex_);
        if (!valid_) {
            return;
        }
        valid_ = false;
        released = std::move(action_);
        id = deadlineId_;
    }
    internal::Timekeeper::instance().cancel(id);
}

bool Timer::isValid() const {
    const bool currentLoop = generation_ == internal::MainQueue::instance().generation();
    MutexLock lock(mutex_);
    return valid_ && currentLoop;
}

}  // namespace pelmar::dispatch
