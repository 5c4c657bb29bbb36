#include "pelmar/recorder/internal/RecordingCleanup.h"

#include <system_error>

namespace pelmar::internal {

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

}  // namespace pelmar::internal
