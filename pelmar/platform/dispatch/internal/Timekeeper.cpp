#include "pelmar/platform/dispatch/internal/Timekeeper.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include "pelmar/platform/dispatch/SteadyClock.h"

namespace pelmar::dispatch::internal {

namespace {

// Longest single sleep of the timer thread; it re-reads the clock afterwards, so huge deadlines
// never overflow a duration.
constexpr double kMaxSleepSeconds = 3600.0;

std::atomic<Timekeeper*> gInstance{nullptr};

// Joins the timer thread at process exit. Constant-initialised, so it exists before any
// static initialiser could start the timekeeper.
struct ShutdownAtExit {
    constexpr ShutdownAtExit() = default;
    ShutdownAtExit(const ShutdownAtExit&) = delete;
    ShutdownAtExit& operator=(const ShutdownAtExit&) = delete;

    ~ShutdownAtExit() {
        if (auto* keeper = gInstance.load()) {
            keeper->shutdown();
        }
    }
};

ShutdownAtExit gShutdownAtExit;

}  // namespace

Timekeeper& Timekeeper::instance() {
    // Never destroyed: pool threads and detached work may still schedule during exit.
    static Timekeeper* keeper = [] {
        auto* created = new Timekeeper();
        gInstance.store(created);
        return created;
    }();
    return *keeper;
}

Timekeeper::Timekeeper() : clock_(std::make_shared<SteadyClock>()) {
    thread_ = std::thread([this] { threadMain(); });
}

std::shared_ptr<Clock> Timekeeper::clock() const {
    MutexLock lock(mutex_);
    return clock_;
}

void Timekeeper::setClock(std::shared_ptr<Clock> newClock) {
    if (!newClock) {
        newClock = std::make_shared<SteadyClock>();
    }
    {
        MutexLock lock(mutex_);
        const double shift = newClock->now() - clock_->now();
        std::map<Key, Entry> rebased;
        for (auto& [key, entry] : entries_) {
            const double deadline = key.first + shift;
            deadlineOf_[key.second] = deadline;
            rebased.emplace(Key{deadline, key.second}, std::move(entry));
        }
        entries_ = std::move(rebased);
        clock_ = std::move(newClock);
    }
    wakeUp_.notifyAll();
    fireDue(nullptr);
}

Timekeeper::Id Timekeeper::scheduleAfter(double delay,
                                         std::function<void()> action,
                                         Target target) {
    if (std::isnan(delay) || delay == INFINITY) {
        return 0;
    }
    return scheduleAt(deadlineAfter(delay), std::move(action), target);
}

double Timekeeper::deadlineAfter(double delay) const {
    MutexLock lock(mutex_);
    return clock_->now() + std::max(delay, 0.0);
}

Timekeeper::Id Timekeeper::scheduleAt(double deadline,
                                      std::function<void()> action,
                                      Target target) {
    if (std::isnan(deadline) || deadline == INFINITY) {
        return 0;
    }
    Id id;
    bool due;
    {
        MutexLock lock(mutex_);
        id = nextId_++;
        entries_.emplace(Key{deadline, id}, Entry{std::move(action), target});
        deadlineOf_.emplace(id, deadline);
        due = deadline <= clock_->now() + kEpsilon;
    }
    if (due) {
        fireDue(nullptr);
    } else {
        wakeUp_.notifyAll();
    }
    return id;
}

void Timekeeper::cancel(Id id) {
    std::function<void()> dropped;  // destroyed after the lock is released
    MutexLock lock(mutex_);
    auto found = deadlineOf_.find(id);
    if (found == deadlineOf_.end()) {
        return;
    }
    auto entry = entries_.find(Key{found->second, id});
    if (entry != entries_.end()) {
        dropped = std::move(entry->second.action);
        entries_.erase(entry);
    }
    deadlineOf_.erase(found);
}

void Timekeeper::cancelAll(Target target) {
    std::map<Key, Entry> dropped;  // destroyed after the lock is released
    MutexLock lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.target == target) {
            deadlineOf_.erase(it->first.second);
            dropped.insert(entries_.extract(it++));
        } else {
            ++it;
        }
    }
}

std::map<Timekeeper::Key, Timekeeper::Entry> Timekeeper::takeDueLocked(double now) {
    std::map<Key, Entry> due;
    while (!entries_.empty() && entries_.begin()->first.first <= now + kEpsilon) {
        deadlineOf_.erase(entries_.begin()->first.second);
        due.insert(entries_.extract(entries_.begin()));
    }
    return due;
}

void Timekeeper::fireDue(const Clock* source) {
    std::map<Key, Entry> due;
    {
        MutexLock lock(mutex_);
        if (source != nullptr && source != clock_.get()) {
            return;
        }
        due = takeDueLocked(clock_->now());
    }
    for (auto& [key, entry] : due) {
        entry.action();
    }
}

std::optional<double> Timekeeper::nextDeadline() const {
    MutexLock lock(mutex_);
    if (entries_.empty()) {
        return std::nullopt;
    }
    return entries_.begin()->first.first;
}

std::size_t Timekeeper::pendingCount() const {
    MutexLock lock(mutex_);
    return entries_.size();
}

void Timekeeper::shutdown() {
    {
        MutexLock lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    wakeUp_.notifyAll();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

void Timekeeper::threadMain() {
    MutexLock lock(mutex_);
    while (!stopping_) {
        if (entries_.empty() || clock_->isManual()) {
            wakeUp_.wait(mutex_);
            continue;
        }
        const double now = clock_->now();
        const double first = entries_.begin()->first.first;
        if (first <= now + kEpsilon) {
            auto due = takeDueLocked(now);
            lock.unlock();
            for (auto& [key, entry] : due) {
                entry.action();
            }
            due.clear();
            lock.lock();
            continue;
        }
        wakeUp_.waitFor(mutex_,
                        std::chrono::duration<double>(std::min(first - now, kMaxSleepSeconds)));
    }
}

}  // namespace pelmar::dispatch::internal
