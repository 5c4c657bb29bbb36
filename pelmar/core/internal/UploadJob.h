#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/sync/Mutex.h"

// UploadJob: one upload of the upload engine, from preparingToUpload to its one end: what the
// caller gave (paths and closures), the tokens of its resource, its transfer task, its cancel
// request and its processing tick on the main loop.
// Ownership: made with std::make_shared by the upload engine, which lists it while it runs; the
//     steps' callbacks hold it too. The tick's action holds it weakly; the job's end stops the
//     tick, and a job that is destroyed leaves no timer behind.
// Threads: thread-safe; the tick is made, fired and stopped on the main queue only. State
//     changes take the job's own leaf mutex, never held while calling out.
// Errors: none.

namespace pelmar::dispatch {
class Timer;
}  // namespace pelmar::dispatch

namespace pelmar::core::internal {

class UploadJob : public std::enable_shared_from_this<UploadJob> {
public:
    using Task = PelmarUploadingHandler::Task;
    using AnswerCallback = PelmarUploadingHandler::AnswerCallback;
    using ProgressCallback = PelmarUploadingHandler::ProgressCallback;

    UploadJob(uint64_t id,
              Media_Type type,
              std::string givenPath,
              std::string filePath,
              AnswerCallback callback,
              ProgressCallback progress,
              AnswerCallback confirmCallback);

    ~UploadJob();

    UploadJob(const UploadJob&) = delete;
    UploadJob& operator=(const UploadJob&) = delete;

    const uint64_t id;
    const Media_Type type;
    const std::string givenPath;  // as the caller passed it
    const std::string filePath;   // the local path it names
    const AnswerCallback callback;
    const ProgressCallback progress;
    const AnswerCallback confirmCallback;

    // Set in the create completion, before the transfer starts; read-only afterwards.
    std::string token;
    std::string streamToken;

    // Whether it was started from `path` as given, or from `localPath`.
    bool startedFrom(const std::string& path, const std::string& localPath) const;

    bool isCancelled() const;

    bool isRunning() const;

    // Holds the transfer task unless the job has ended (whatever became of its tick); true when a
    // cancel came first or the job has ended, so the caller cancels the task.
    bool holdTask(Task task);

    // The transfer ended: drops the task; returns whether the job was cancelled.
    bool transferEnded();

    // Marks the job cancelled and returns its transfer task, if one is held; the caller stops the
    // tick and cancels the task (outside its own locks).
    Task markCancelled();

    // Marks the one end of the job (stopping its tick); true for the first caller only, who
    // reports it.
    bool end();

    // The transfer's events wait until uploadStarted was told, so the delegate hears it first.
    void markStartTold();

    void waitUntilStartTold();

    // From the main queue: every kProcessingTickSeconds, `onTick` with this job (unless the tick
    // was stopped first). `onTick` must not hold the job.
    void startTick(std::function<void(UploadJob&)> onTick);

    // Stops the tick for good (also one that is still to be made).
    void stopTick();

private:
    mutable Mutex mutex_;  // a leaf: taken alone or after the engine's list lock
    Task task_ PELMAR_GUARDED_BY(mutex_);
    bool cancelled_ PELMAR_GUARDED_BY(mutex_) = false;
    // The tick must not start, or must stop; set also while the upload goes on (stopTimer,
    // uploadCompleted), so it never stands for the job's end.
    bool tickStopped_ PELMAR_GUARDED_BY(mutex_) = false;
    bool ended_ PELMAR_GUARDED_BY(mutex_) = false;  // its end was reported

    Mutex startMutex_;
    CondVar startChanged_;
    bool startTold_ PELMAR_GUARDED_BY(startMutex_) = false;

    // main queue only (and the destructor, when no one else holds the job)
    std::shared_ptr<dispatch::Timer> timer_;
};

}  // namespace pelmar::core::internal
