#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarOperationQueue.h"
#include "pelmar/imageloader/PelmarProgressiveImage.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"
#include "pelmar/imageloader/PelmarRemoteImageTask.h"
#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"
#include "pelmar/imageloader/PelmarSpeedRecorder.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"

namespace pelmar {

// Code of PelmarRemoteImageManagerErrorDomain: a download ended with neither data nor error.
inline constexpr long kPelmarImageErrorEmptyDownload = 5;

// PelmarRemoteImageDownloadTask: one network download shared by every request for the same
// image. It gets its data task from the download queue, continues an earlier partial download
// with a range request ("Range" and "If-Range" with a strong validator) when given a resume
// record, collects the bytes, reports byte progress, retries failures by its retry strategy after
// the strategy's delay (on the installed dispatch clock), and when its last caller cancels can
// leave a resume record behind, unless the download is nearly done, in which case it keeps
// running for its callers.
// Ownership: made by create() and held by shared_ptr by the image manager; refers to the shared
//     queues of its environment; blocks it schedules hold it weakly.
// Threads: thread-safe. The task lock comes before the download queue's and the progressive
//     image's locks. Completions run on the environment's operation queue, progress callbacks on
//     its callback queue, retries start from the global queue.
// Errors: the completion handler receives the transport or HTTP error, or
//     kPelmarImageErrorEmptyDownload; a cancelled download calls no handler.
class PelmarRemoteImageDownloadTask : public PelmarRemoteImageTask {
    struct Private {};

public:
    // What the task uses of its image manager.
    struct Environment {
        std::shared_ptr<PelmarURLSessionManager> sessionManager;
        std::shared_ptr<PelmarRemoteImageDownloadQueue> downloadQueue;
        std::shared_ptr<PelmarOperationQueue> operationQueue;
        std::shared_ptr<dispatch::Queue> callbackQueue;
        std::shared_ptr<PelmarSpeedRecorder> speedRecorder = PelmarSpeedRecorder::sharedRecorder();
        // Asked for the progressive-render settings; none means no blur and no size limit.
        std::weak_ptr<PelmarRemoteImageManager> manager;
    };

    // Data (none after an error), the response, the error.
    using CompletionHandler =
            std::function<void(std::optional<std::string> data,
                               const std::shared_ptr<const net::HTTPURLResponse>& response,
                               const std::optional<Error>& error)>;

    static std::shared_ptr<PelmarRemoteImageDownloadTask> create(
            std::string key,
            Environment environment,
            std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy);

    PelmarRemoteImageDownloadTask(Private,
                                  std::string key,
                                  Environment environment,
                                  std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy);

    // Starts the download unless one is in flight, no callbacks are registered, or (when not a
    // retry) a retry is pending or has run.
    void scheduleDownloadWithRequest(net::URLRequest request,
                                     std::optional<PelmarResume> resume,
                                     bool skipRetry,
                                     PelmarRemoteImageManagerPriority priority,
                                     CompletionHandler completionHandler,
                                     bool isRetry = false);

    // The session manager's events for this task's data task, forwarded by the image manager.
    // Events of any other data task `from` (one this task cancelled or replaced, whose last
    // events may still be on their way) are ignored, so that its bytes never join the current
    // download; with no current data task every event is taken.
    void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>& response,
                            const PelmarDataTask& from);

    void didReceiveData(const std::string& data, const PelmarDataTask& from);

    bool cancelWithUUID(const std::string& uuid, std::optional<PelmarResume>* resume) override;

    void setPriority(PelmarRemoteImageManagerPriority priority) override;

    // The URL of the data task's original request; none while no download is in flight.
    std::optional<std::string> URL();

    // The bytes received so far (stored resume bytes first).
    std::string data();

    double estimatedRemainingTime();

    // The data task of the download in flight, or null.
    PelmarDataTask dataTask();

    // Retries started or waiting.
    int32_t numberOfRetries();

    // The validator learnt from the current response.
    std::optional<std::string> ifRange();

    static bool retriableError(const Error& error) {
        return PelmarRequestExponentialRetryStrategy::retriableError(error);
    }

private:
    // Whether `from` is not the current data task, when there is one.
    bool l_isStale(const PelmarDataTask& from) PELMAR_REQUIRES(lock_);

    void completed(const std::shared_ptr<const net::HTTPURLResponse>& response,
                   const std::optional<Error>& error,
                   const net::URLRequest& request,
                   bool skipRetry,
                   PelmarRemoteImageManagerPriority priority,
                   const CompletionHandler& completionHandler);

    void updateData(const std::string& data, bool isResume, int64_t expectedBytes);

    void callProgressDownload();

    // Hands an intermediate render to every callback that has a progress-image block.
    void callProgressImageWithImage(const PelmarImage& image, double renderedImageQuality);

    const Environment environment_;
    std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy_ PELMAR_GUARDED_BY(lock_);
    std::shared_ptr<PelmarProgressiveImage> progressImage_ PELMAR_GUARDED_BY(lock_);
    std::optional<PelmarResume> resume_ PELMAR_GUARDED_BY(lock_);
    std::optional<std::string> ifRange_ PELMAR_GUARDED_BY(lock_);
    PelmarRemoteImageManagerPriority priority_ PELMAR_GUARDED_BY(lock_) =
            kPelmarRemoteImageManagerPriorityDefault;
    // The answer to a range request did not continue the stored bytes: start again whole.
    bool restartWithoutRange_ PELMAR_GUARDED_BY(lock_) = false;
};

}  // namespace pelmar
