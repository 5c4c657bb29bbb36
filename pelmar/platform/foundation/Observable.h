#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"

// Observable: a property whose changes can be observed (key-value observing). Each set() tells the
// observers the value before and the value after; an observer that asks for it is also told just
// before the change (a prior notice, while get() still answers the old value), and one that asks
// for the initial value hears it once when it registers.
// Ownership: a value member of its owner; an observer lives until its Token is destroyed or reset;
//     a Token does not keep the property alive and may outlive it.
// Threads: thread-safe. Sets are serialised and observers run synchronously on the setting thread
//     with no lock held but the set lock, so an observer may read get(), set the property again
//     (its observers hear that nested change at once) and add or remove observers. Removing an
//     observer waits for its calls running on other threads to end.
// Errors: an exception thrown by an observer propagates to the setter; the value stays set.

namespace pelmar::foundation {

template <typename T>
class Observable {
public:
    struct Change {
        // True for the notice sent before the value changes; `newValue` is then empty.
        bool isPrior = false;
        T oldValue;
        std::optional<T> newValue;
    };

    struct Options {
        // Also call before each change.
        bool prior = false;
        // Also call once at registration, with the current value as both old and new.
        bool initial = false;
    };

    using Observer = std::function<void(const Change&)>;

    class Token {
    public:
        Token() = default;

        ~Token() { reset(); }

        Token(Token&& other) noexcept = default;

        Token& operator=(Token&& other) noexcept {
            if (this != &other) {
                reset();
                registry_ = std::move(other.registry_);
                entry_ = std::move(other.entry_);
            }
            return *this;
        }

        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

        void reset() {
            if (!entry_) {
                return;
            }
            if (auto registry = registry_.lock()) {
                MutexLock lock(registry->mutex);
                std::erase(registry->entries, entry_);
            }
            {
                RecursiveMutexLock call(entry_->callMutex);
                entry_->active = false;
            }
            entry_.reset();
            registry_.reset();
        }

        explicit operator bool() const { return entry_ != nullptr; }

    private:
        friend class Observable;
        struct Entry;
        struct Registry;

        Token(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry)
            : registry_(std::move(registry)), entry_(std::move(entry)) {}

        std::weak_ptr<Registry> registry_;
        std::shared_ptr<Entry> entry_;
    };

    Observable() : Observable(T{}) {}

    explicit Observable(T initial) : value_(std::move(initial)) {}

    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    T get() const {
        MutexLock lock(registry_->mutex);
        return value_;
    }

    // Stores `value` and tells the observers, even when it equals the old value.
    void set(T value) {
        std::lock_guard writing(setMutex_);
        auto targets = snapshot();
        T old = get();
        for (const auto& entry : targets) {
            if (entry->options.prior) {
                call(*entry, Change{true, old, std::nullopt});
            }
        }
        {
            MutexLock lock(registry_->mutex);
            value_ = value;
        }
        const Change change{false, std::move(old), std::move(value)};
        for (const auto& entry : targets) {
            call(*entry, change);
        }
    }

    [[nodiscard]] Token observe(Observer fn, Options options = {}) {
        auto entry = std::make_shared<typename Token::Entry>();
        entry->fn = std::move(fn);
        entry->options = options;
        std::unique_lock writing(setMutex_, std::defer_lock);
        if (options.initial) {
            // No set may slip between the initial call and the registration.
            writing.lock();
            T current = get();
            call(*entry, Change{false, current, current});
        }
        {
            MutexLock lock(registry_->mutex);
            registry_->entries.push_back(entry);
        }
        return Token(registry_, std::move(entry));
    }

private:
    std::vector<std::shared_ptr<typename Token::Entry>> snapshot() const {
        MutexLock lock(registry_->mutex);
        return registry_->entries;
    }

    static void call(typename Token::Entry& entry, const Change& change) {
        RecursiveMutexLock call(entry.callMutex);
        if (entry.active) {
            entry.fn(change);
        }
    }

    const std::shared_ptr<typename Token::Registry> registry_ =
            std::make_shared<typename Token::Registry>();
    std::recursive_mutex setMutex_;
    T value_ PELMAR_GUARDED_BY(registry_->mutex);
};

template <typename T>
struct Observable<T>::Token::Entry {
    Observer fn;
    Options options;
    // Held while the observer runs; recursive so that it may reset its own token.
    RecursiveMutex callMutex;
    bool active PELMAR_GUARDED_BY(callMutex) = true;
};

template <typename T>
struct Observable<T>::Token::Registry {
    Mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries PELMAR_GUARDED_BY(mutex);
};

}  // namespace pelmar::foundation
