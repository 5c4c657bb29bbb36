#include "pelmar/recorder/internal/RecordingCleanup.h"

#include <system_error>
#include <utility>

namespace pelmar::recorder::internal {

void RecordingCleanup::run() {
    bool remove = false;
    {
        MutexLock lock(mutex_);
        remove = !fileRemoved_;
        fileRemoved_ = true;
    }
    if (remove) {
        std::error_code ec;
        std::filesystem::remove(file_, ec);
    }
    endTask();
}

void RecordingCleanup::endTask() {
    app::BackgroundTaskIdentifier task = app::kInvalidBackgroundTask;
    {
        MutexLock lock(mutex_);
        std::swap(task, task_);
    }
    if (task != app::kInvalidBackgroundTask) {
        app::AppLifecycle::endBackgroundTask(task);
    }
}

app::BackgroundTaskIdentifier beginRecordingBackgroundTask(std::string name) {
    auto identifier = std::make_shared<std::atomic<app::BackgroundTaskIdentifier>>(
            app::kInvalidBackgroundTask);
    identifier->store(app::AppLifecycle::beginBackgroundTask(std::move(name), [identifier] {
        app::AppLifecycle::endBackgroundTask(identifier->load());
    }));
    return identifier->load();
}

void endBackgroundTask(std::atomic<app::BackgroundTaskIdentifier>& task) {
    const auto id = task.exchange(app::kInvalidBackgroundTask);
    if (id != app::kInvalidBackgroundTask) {
        app::AppLifecycle::endBackgroundTask(id);
    }
}

void RecordingCleanupSlot::set(std::shared_ptr<RecordingCleanup> cleanup) {
    std::shared_ptr<RecordingCleanup> replaced;
    {
        MutexLock lock(mutex_);
        replaced = std::exchange(cleanup_, std::move(cleanup));
    }
    if (replaced) {
        replaced->run();
    }
}

std::shared_ptr<RecordingCleanup> RecordingCleanupSlot::current() const {
    MutexLock lock(mutex_);
    return cleanup_;
}

void RecordingCleanupSlot::run() const {
    if (auto cleanup = current()) {
        cleanup->run();
    }
}

}  // namespace pelmar::recorder::internal
