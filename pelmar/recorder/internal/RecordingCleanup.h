#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::recorder::internal {

// RecordingCleanup: what a finished recording leaves to tidy: its temporary movie and the
// background task that kept the app running while it was recorded and processed.
// Ownership: shared by the recorder and the callbacks that may end the recording's life (export,
// upload confirmation, retake).
// Threads: thread-safe; each part is done at most once.
// Errors: none; a file that cannot be removed is left.
class RecordingCleanup {
public:
    RecordingCleanup(std::filesystem::path file, app::BackgroundTaskIdentifier task)
        : file_(std::move(file)), task_(task) {}

    // Removes the file and ends the task.
    void run();

    // Ends the task only; the file stays (its path was handed to the host app).
    void endTask();

    const std::filesystem::path& file() const { return file_; }

private:
    const std::filesystem::path file_;
    Mutex mutex_;
    app::BackgroundTaskIdentifier task_ PELMAR_GUARDED_BY(mutex_);
    bool fileRemoved_ PELMAR_GUARDED_BY(mutex_) = false;
};

// Begins the background task of a recording. On expiry its handler ends it by its own identifier,
// wherever the identifier is held by then (the screen while recording, the recording's cleanup
// once it is processed); whoever holds it may still end it, which is then ignored.
// Threads: thread-safe.
app::BackgroundTaskIdentifier beginRecordingBackgroundTask(std::string name);

// Ends the background task held in `task`, if any, leaving none held. Threads: thread-safe.
void endBackgroundTask(std::atomic<app::BackgroundTaskIdentifier>& task);

// RecordingCleanupSlot: the cleanup of a screen's latest recording.
// Ownership: owned by the screen; shares the cleanup it holds.
// Threads: thread-safe.
// Errors: none.
class RecordingCleanupSlot {
public:
    // Holds `cleanup` in place of the one before, which is run (its recording is over).
    void set(std::shared_ptr<RecordingCleanup> cleanup);

    std::shared_ptr<RecordingCleanup> current() const;

    // Runs the held cleanup, if any; it stays held.
    void run() const;

private:
    mutable Mutex mutex_;
    std::shared_ptr<RecordingCleanup> cleanup_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::recorder::internal
