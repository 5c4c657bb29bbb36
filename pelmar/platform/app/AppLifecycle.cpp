#include "pelmar/platform/app/AppLifecycle.h"

#include <map>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::app {

namespace {

struct BackgroundTask {
    std::string name;
    std::function<void()> expirationHandler;
};

struct LifecycleState {
    Mutex mutex;
    ApplicationState state PELMAR_GUARDED_BY(mutex) = ApplicationState::Active;
    BackgroundTaskIdentifier nextIdentifier PELMAR_GUARDED_BY(mutex) = 1;
    std::map<BackgroundTaskIdentifier, BackgroundTask> backgroundTasks PELMAR_GUARDED_BY(mutex);
};

LifecycleState& lifecycle() {
    static LifecycleState state;
    return state;
}

}  // namespace

ApplicationState AppLifecycle::state() {
    auto& l = lifecycle();
    MutexLock lock(l.mutex);
    return l.state;
}

void AppLifecycle::setState(ApplicationState state) {
    auto& l = lifecycle();
    ApplicationState previous;
    {
        MutexLock lock(l.mutex);
        previous = std::exchange(l.state, state);
    }
    auto& center = foundation::NotificationCenter::defaultCenter();
    if (state == ApplicationState::Background && previous != ApplicationState::Background) {
        center.post(kDidEnterBackgroundNotification);
    } else if (state != ApplicationState::Background && previous == ApplicationState::Background) {
        center.post(kWillEnterForegroundNotification);
    }
}

BackgroundTaskIdentifier AppLifecycle::beginBackgroundTask(
        std::string name, std::function<void()> expirationHandler) {
    auto& l = lifecycle();
    MutexLock lock(l.mutex);
    const BackgroundTaskIdentifier identifier = l.nextIdentifier++;
    l.backgroundTasks.emplace(identifier,
                              BackgroundTask{std::move(name), std::move(expirationHandler)});
    return identifier;
}

void AppLifecycle::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    auto& l = lifecycle();
    std::function<void()> released;  // destroyed outside the lock
    MutexLock lock(l.mutex);
    if (auto it = l.backgroundTasks.find(identifier); it != l.backgroundTasks.end()) {
        released = std::move(it->second.expirationHandler);
        l.backgroundTasks.erase(it);
    }
}

int64_t AppLifecycle::backgroundTaskCount() {
    auto& l = lifecycle();
    MutexLock lock(l.mutex);
    return static_cast<int64_t>(l.backgroundTasks.size());
}

int64_t AppLifecycle::expireBackgroundTasks() {
    auto& l = lifecycle();
    std::vector<BackgroundTaskIdentifier> expiring;
    int64_t forced = 0;
    {
        MutexLock lock(l.mutex);
        for (const auto& [identifier, task] : l.backgroundTasks) {
            expiring.push_back(identifier);
        }
    }
    for (const auto identifier : expiring) {
        // An earlier handler may have ended this task, and its owner may have freed what the
        // handler refers to: only a task that is still live gets its handler run.
        std::function<void()> handler;
        {
            MutexLock lock(l.mutex);
            auto it = l.backgroundTasks.find(identifier);
            if (it == l.backgroundTasks.end()) {
                continue;
            }
            // A copy: the handler may end its own task, which destroys the stored one.
            handler = it->second.expirationHandler;
        }
        if (handler) {
            handler();
        }
        {
            MutexLock lock(l.mutex);
            if (l.backgroundTasks.contains(identifier)) {
                ++forced;
            }
        }
        endBackgroundTask(identifier);
    }
    return forced;
}

void AppLifecycle::reset() {
    auto& l = lifecycle();
    std::map<BackgroundTaskIdentifier, BackgroundTask> released;
    MutexLock lock(l.mutex);
    l.state = ApplicationState::Active;
    released.swap(l.backgroundTasks);
}

void AppLifecycle::receiveMemoryWarning() {
    foundation::NotificationCenter::defaultCenter().post(kDidReceiveMemoryWarningNotification);
}

}  // namespace pelmar::app
