#include "pelmar/core/internal/UploadJob.h"

#include <utility>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/net/URLSessionTask.h"

namespace pelmar::core::internal {

UploadJob::UploadJob(uint64_t id_,
                     Media_Type type_,
                     std::string givenPath_,
                     std::string filePath_,
                     AnswerCallback callback_,
                     ProgressCallback progress_,
                     AnswerCallback confirmCallback_)
    : id(id_),
      type(type_),
      givenPath(std::move(givenPath_)),
      filePath(std::move(filePath_)),
      callback(std::move(callback_)),
      progress(std::move(progress_)),
      confirmCallback(std::move(confirmCallback_)) {}

UploadJob::~UploadJob() {
    // Only the main queue touches the timer while others hold the job; now no one does.
    if (timer_) {
        timer_->invalidate();
    }
}

bool UploadJob::startedFrom(const std::string& path, const std::string& localPath) const {
    return givenPath == path || filePath == localPath;
}

bool UploadJob::isCancelled() const {
    MutexLock lock(mutex_);
    return cancelled_;
}

bool UploadJob::isRunning() const {
    MutexLock lock(mutex_);
    return task_ && task_->state() == net::URLSessionTask::State::Running;
}

bool UploadJob::holdTask(Task task) {
    MutexLock lock(mutex_);
    // A stopped tick says nothing about the transfer: only an ended job (whose end is told)
    // keeps no task, and its transfer is stopped as a cancelled one.
    if (ended_) {
        return true;
    }
    task_ = std::move(task);
    return cancelled_;
}

bool UploadJob::transferEnded() {
    MutexLock lock(mutex_);
    task_ = nullptr;
    return cancelled_;
}

UploadJob::Task UploadJob::markCancelled() {
    MutexLock lock(mutex_);
    cancelled_ = true;
    return task_;
}

bool UploadJob::end() {
    bool first = false;
    {
        MutexLock lock(mutex_);
        first = !ended_;
        ended_ = true;
    }
    stopTick();
    return first;
}

void UploadJob::markStartTold() {
    {
        MutexLock lock(startMutex_);
        startTold_ = true;
    }
    startChanged_.notifyAll();
}

void UploadJob::waitUntilStartTold() {
    MutexLock lock(startMutex_);
    while (!startTold_) {
        startChanged_.wait(startMutex_);
    }
}

void UploadJob::startTick(std::function<void(UploadJob&)> onTick) {
    dispatch::Queue::main()->async([self = shared_from_this(), onTick = std::move(onTick)] {
        {
            MutexLock lock(self->mutex_);
            if (self->tickStopped_) {
                return;
            }
        }
        std::weak_ptr<UploadJob> weak = self;
        self->timer_ = dispatch::Timer::scheduled(PelmarUploadingHandler::kProcessingTickSeconds,
                                                  /*repeats=*/true, [weak, onTick] {
                                                      auto job = weak.lock();
                                                      if (!job) {
                                                          return;
                                                      }
                                                      {
                                                          // The job may have ended with its stop
                                                          // still queued behind this fire.
                                                          MutexLock lock(job->mutex_);
                                                          if (job->tickStopped_) {
                                                              return;
                                                          }
                                                      }
                                                      onTick(*job);
                                                  });
    });
}

void UploadJob::stopTick() {
    {
        MutexLock lock(mutex_);
        tickStopped_ = true;
    }
    // The tick is made on the main queue; stopping it there too means a stop can never run
    // before the start it belongs to.
    dispatch::Queue::main()->async([self = shared_from_this()] {
        if (self->timer_) {
            self->timer_->invalidate();
            self->timer_ = nullptr;
        }
    });
}

}  // namespace pelmar::core::internal
