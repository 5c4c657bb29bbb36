#include "pelmar/platform/foundation/NotificationCenter.h"

#include <algorithm>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::foundation {

// One registered observer. `callMutex` is held while the observer runs; it is recursive so that an
// observer may post again or remove itself on the same thread.
struct NotificationCenter::Entry {
    std::string name;
    SenderFilter filter;
    Observer fn;
    RecursiveMutex callMutex;
    bool active PELMAR_GUARDED_BY(callMutex) = true;
};

struct NotificationCenter::Registry {
    Mutex mutex;
    std::map<std::string, std::vector<std::shared_ptr<Entry>>, std::less<>> observers
            PELMAR_GUARDED_BY(mutex);

    void remove(const std::shared_ptr<Entry>& entry) {
        {
            MutexLock lock(mutex);
            auto it = observers.find(entry->name);
            if (it != observers.end()) {
                auto& list = it->second;
                list.erase(std::remove(list.begin(), list.end(), entry), list.end());
                if (list.empty()) {
                    observers.erase(it);
                }
            }
        }
        // Waits for a delivery in progress on another thread; returns at once on the thread
        // that is running this observer.
        RecursiveMutexLock call(entry->callMutex);
        entry->active = false;
    }
};

NotificationCenter::Token::Token(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry)
    : registry_(std::move(registry)), entry_(std::move(entry)) {}

NotificationCenter::Token::~Token() {
    reset();
}

NotificationCenter::Token::Token(Token&& other) noexcept
    : registry_(std::move(other.registry_)), entry_(std::move(other.entry_)) {}

NotificationCenter::Token& NotificationCenter::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        reset();
        registry_ = std::move(other.registry_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void NotificationCenter::Token::reset() {
    if (!entry_) {
        return;
    }
    if (auto registry = registry_.lock()) {
        registry->remove(entry_);
    } else {
        RecursiveMutexLock call(entry_->callMutex);
        entry_->active = false;
    }
    entry_.reset();
    registry_.reset();
}

NotificationCenter::NotificationCenter() : registry_(std::make_shared<Registry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: tokens held by static objects may unregister during exit.
    static auto* instance = new std::shared_ptr<NotificationCenter>(create());
    return **instance;
}

std::shared_ptr<NotificationCenter> NotificationCenter::create() {
    return std::shared_ptr<NotificationCenter>(new NotificationCenter());
}

bool NotificationCenter::SenderFilter::matches(const Notification& notification) const {
    if (any) {
        return true;
    }
    // The same address and the same owner: an object made later at a freed sender's address
    // has another owner and does not match.
    const std::weak_ptr<const void> posted = notification.object;
    return notification.object && notification.object.get() == address
           && !owner.owner_before(posted) && !posted.owner_before(owner);
}

NotificationCenter::Token NotificationCenter::addObserverImpl(std::string name,
                                                              SenderFilter filter,
                                                              Observer fn) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->filter = std::move(filter);
    entry->fn = std::move(fn);
    {
        MutexLock lock(registry_->mutex);
        registry_->observers[entry->name].push_back(entry);
    }
    return Token(registry_, std::move(entry));
}

void NotificationCenter::removeObserver(Token& token) {
    token.reset();
}

void NotificationCenter::post(std::string_view name, Json userInfo) {
    deliver(Notification{std::string(name), std::move(userInfo), nullptr, typeid(void), false});
}

void NotificationCenter::deliver(const Notification& notification) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        MutexLock lock(registry_->mutex);
        auto it = registry_->observers.find(notification.name);
        if (it == registry_->observers.end()) {
            return;
        }
        targets = it->second;
    }
    for (const auto& entry : targets) {
        if (!entry->filter.matches(notification)) {
            continue;
        }
        // An observer removed by an earlier one in this same delivery is skipped.
        RecursiveMutexLock call(entry->callMutex);
        if (entry->active) {
            entry->fn(notification);
        }
    }
}

}  // namespace pelmar::foundation
