#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/ImageRequest.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLOrigin.h"

namespace pelmar {
namespace {

// The first byte position of a "Content-Range: bytes <first>-<last>/<length>" field.
std::optional<int64_t> contentRangeStart(const net::HTTPURLResponse& response) {
    const auto field = response.value("Content-Range");
    if (!field || field->rfind("bytes ", 0) != 0) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const long long start = std::stoll(field->substr(6), &used);
        return start >= 0 && field->at(6 + used) == '-' ? std::optional<int64_t>(start)
                                                        : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::shared_ptr<PelmarRemoteImageDownloadTask> PelmarRemoteImageDownloadTask::create(
        std::string key,
        Environment environment,
        std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy) {
    return std::make_shared<PelmarRemoteImageDownloadTask>(
            Private{}, std::move(key), std::move(environment), std::move(retryStrategy));
}

PelmarRemoteImageDownloadTask::PelmarRemoteImageDownloadTask(
        Private,
        std::string key,
        Environment environment,
        std::unique_ptr<PelmarRequestRetryStrategy> retryStrategy)
    : PelmarRemoteImageTask(std::move(key), environment.callbackQueue, environment.manager),
      environment_(std::move(environment)),
      retryStrategy_(retryStrategy
                             ? std::move(retryStrategy)
                             : std::make_unique<PelmarRequestExponentialRetryStrategy>(3, 4)) {}

void PelmarRemoteImageDownloadTask::scheduleDownloadWithRequest(
        net::URLRequest request,
        std::optional<PelmarResume> resume,
        bool skipRetry,
        PelmarRemoteImageManagerPriority priority,
        CompletionHandler completionHandler,
        bool isRetry) {
    PelmarRemoteLock::Hold lock(lock_);
    if (progressImage_ || callbackBlocks_.empty()
        || (!isRetry && retryStrategy_->numberOfRetries() > 0)) {
        return;
    }
    resume_ = std::move(resume);
    restartWithoutRange_ = false;
    priority_ = priority;
    net::URLRequest sent = request;
    if (resume_) {
        sent.setValue(resume_->ifRange, "If-Range");
        sent.setValue("bytes=" + std::to_string(resume_->resumeData.size()) + "-", "Range");
    }
    auto weak = std::weak_ptr<PelmarRemoteImageDownloadTask>(
            std::static_pointer_cast<PelmarRemoteImageDownloadTask>(shared_from_this()));
    auto dataTask = environment_.downloadQueue->addDownloadWithSessionManager(
            *environment_.sessionManager, std::move(sent), priority,
            [weak, request, skipRetry, priority, completionHandler](
                    const std::shared_ptr<const net::HTTPURLResponse>& response,
                    const std::optional<Error>& error) {
                if (auto self = weak.lock()) {
                    self->environment_.operationQueue->scheduleOperation(
                            [weak, response, error, request, skipRetry, priority,
                             completionHandler] {
                                if (auto task = weak.lock()) {
                                    task->completed(response, error, request, skipRetry, priority,
                                                    completionHandler);
                                }
                            },
                            kPelmarOperationQueuePriorityDefault);
                }
            });
    progressImage_ = std::make_shared<PelmarProgressiveImage>(std::move(dataTask),
                                                              environment_.speedRecorder);
}

void PelmarRemoteImageDownloadTask::completed(
        const std::shared_ptr<const net::HTTPURLResponse>& response,
        const std::optional<Error>& error,
        const net::URLRequest& request,
        bool skipRetry,
        PelmarRemoteImageManagerPriority priority,
        const CompletionHandler& completionHandler) {
    std::optional<Error> final = error;
    bool restart = false;
    bool retry = false;
    std::optional<std::string> data;
    {
        PelmarRemoteLock::Hold lock(lock_);
        const bool cancelled = error && error->domain == net::kURLErrorDomain
                               && error->code == net::kURLErrorCancelled;
        if (restartWithoutRange_) {
            // Whether the cut arrived before the answer ended or not, its bytes were dropped.
            restart = true;
            progressImage_.reset();
        } else if (cancelled && callbackBlocks_.empty()) {
            return;  // the callers' cancellation already answered them
        } else {
            data = progressImage_ ? progressImage_->data() : std::string();
            if (!final && data->empty()) {
                final = imageloader::internal::managerError(kPelmarImageErrorEmptyDownload);
            }
            // Cancelled with callers left (a refused challenge, a closed session): asking again
            // would meet the same end. Retries wait for the network to recover; a local file
            // answers the same at once, so a missing one fails without waiting.
            retry = !skipRetry && !cancelled
                    && !imageloader::internal::hasScheme(request.url, "file")
                    && retryStrategy_->shouldRetryWithError(final);
            if (retry) {
                progressImage_.reset();
                retryStrategy_->incrementRetryCount();
                const int32_t delay = retryStrategy_->nextDelay();
                // Registered before the lock goes, so whoever sees the retry counted also finds
                // its deadline set (asyncAfter never runs the block in the call).
                auto weak = std::weak_ptr<PelmarRemoteImageDownloadTask>(
                        std::static_pointer_cast<PelmarRemoteImageDownloadTask>(
                                shared_from_this()));
                dispatch::Queue::global()->asyncAfter(delay, [weak, request, skipRetry, priority,
                                                              completionHandler] {
                    if (auto task = weak.lock()) {
                        task->scheduleDownloadWithRequest(request, std::nullopt, skipRetry,
                                                          priority, completionHandler, true);
                    }
                });
            }
        }
    }
    if (restart) {
        scheduleDownloadWithRequest(request, std::nullopt, skipRetry, priority, completionHandler,
                                    true);
        return;
    }
    if (retry) {
        return;
    }
    if (completionHandler) {
        completionHandler(std::move(data), response, final);
    }
}

void PelmarRemoteImageDownloadTask::didReceiveResponse(
        const std::shared_ptr<const net::HTTPURLResponse>& response, const PelmarDataTask& from) {
    if (!response) {
        return;
    }
    std::optional<PelmarResume> seed;
    PelmarDataTask toCancel;
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (l_isStale(from)) {
            return;
        }
        if (response->statusCode() == 206) {
            // Only a continuation of exactly the stored bytes can be joined to them.
            if (resume_
                && contentRangeStart(*response)
                           == static_cast<int64_t>(resume_->resumeData.size())) {
                seed = resume_;
            } else if (progressImage_) {
                restartWithoutRange_ = true;
                resume_.reset();
                toCancel = progressImage_->dataTask();
            }
        } else {
            resume_.reset();
        }
        if (response->value("Accept-Ranges") == "bytes") {
            std::optional<std::string> validator;
            if (const auto etag = response->value("ETag")) {
                if (etag->rfind("W/", 0) != 0) {
                    validator = etag;
                }
            } else {
                validator = response->value("Last-Modified");
            }
            if (validator && !validator->empty()) {
                ifRange_ = validator;
            }
        }
    }
    if (toCancel) {
        toCancel->cancel();
        return;
    }
    if (seed) {
        updateData(seed->resumeData, true, seed->totalBytes);
    }
}

bool PelmarRemoteImageDownloadTask::l_isStale(const PelmarDataTask& from) {
    return progressImage_ && from != progressImage_->dataTask();
}

void PelmarRemoteImageDownloadTask::didReceiveData(const std::string& data,
                                                   const PelmarDataTask& from) {
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (l_isStale(from)) {
            return;
        }
    }
    callProgressDownload();
    int64_t expected = -1;
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (!progressImage_ || restartWithoutRange_) {
            return;
        }
        expected = progressImage_->dataTask()->countOfBytesExpectedToReceive();
    }
    updateData(data, false, expected);
}

void PelmarRemoteImageDownloadTask::updateData(const std::string& data,
                                               bool isResume,
                                               int64_t expectedBytes) {
    std::shared_ptr<PelmarProgressiveImage> image;
    bool wantsImages = false;
    {
        PelmarRemoteLock::Hold lock(lock_);
        image = progressImage_;
        wantsImages =
                std::any_of(callbackBlocks_.begin(), callbackBlocks_.end(), [](const auto& entry) {
                    return static_cast<bool>(entry.second.progressImageBlock);
                });
    }
    if (!image) {
        return;
    }
    image->updateProgressiveImageWithData(data, expectedBytes, isResume);
    if (!wantsImages) {
        return;
    }
    auto weak = std::weak_ptr<PelmarRemoteImageDownloadTask>(
            std::static_pointer_cast<PelmarRemoteImageDownloadTask>(shared_from_this()));
    environment_.operationQueue->scheduleOperation(
            [weak, image] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                const auto manager = self->environment_.manager.lock();
                const auto settings =
                        manager ? imageloader::internal::RemoteImageManagerPeer(*manager).settings()
                                : nullptr;
                double quality = 1.0;
                const PelmarImage render = image->currentImageBlurred(
                        settings && settings->shouldBlurProgressive,
                        settings ? settings->maxProgressiveRenderSize
                                 : PelmarSize{std::numeric_limits<double>::max(),
                                              std::numeric_limits<double>::max()},
                        &quality);
                if (render) {
                    self->callProgressImageWithImage(render, quality);
                }
            },
            kPelmarOperationQueuePriorityLow);
}

void PelmarRemoteImageDownloadTask::callProgressImageWithImage(const PelmarImage& image,
                                                               double renderedImageQuality) {
    std::vector<std::pair<std::string, PelmarRemoteImageCallbacks>> wanting;
    {
        PelmarRemoteLock::Hold lock(lock_);
        for (const auto& [uuid, callbacks] : callbackBlocks_) {
            if (callbacks.progressImageBlock) {
                wanting.emplace_back(uuid, callbacks);
            }
        }
    }
    for (auto& [uuid, callbacks] : wanting) {
        environment_.callbackQueue->async([block = callbacks.progressImageBlock,
                                           requestTime = callbacks.requestTime, uuid = uuid, image,
                                           renderedImageQuality] {
            block(PelmarRemoteImageManagerResult::imageResultWithImage(
                    image, nullptr, dispatch::clock().now() - requestTime,
                    PelmarImageResultType::Progressive, uuid, nullptr, std::nullopt,
                    renderedImageQuality));
        });
    }
}

void PelmarRemoteImageDownloadTask::callProgressDownload() {
    int64_t received = 0;
    int64_t expected = -1;
    std::vector<std::function<void(int64_t, int64_t)>> blocks;
    {
        PelmarRemoteLock::Hold lock(lock_);
        if (!progressImage_) {
            return;
        }
        received = progressImage_->dataTask()->countOfBytesReceived();
        expected = progressImage_->dataTask()->countOfBytesExpectedToReceive();
        for (const auto& [uuid, callbacks] : callbackBlocks_) {
            if (callbacks.progressDownloadBlock) {
                blocks.push_back(callbacks.progressDownloadBlock);
            }
        }
    }
    for (auto& block : blocks) {
        environment_.callbackQueue->async(
                [block = std::move(block), received, expected] { block(received, expected); });
    }
}

bool PelmarRemoteImageDownloadTask::cancelWithUUID(const std::string& uuid,
                                                   std::optional<PelmarResume>* resume) {
    PelmarRemoteLock::Hold lock(lock_);
    if (resume != nullptr) {
        *resume = std::nullopt;
    }
    if (resume != nullptr && progressImage_) {
        // Nearly done: the rest arrives sooner than a new request would even be answered.
        const auto host =
                net::urlHost(progressImage_->dataTask()->currentRequest().url).value_or("");
        const double timeToFirstByte =
                environment_.speedRecorder->weightedTimeToFirstByteForHost(host);
        if (progressImage_->estimatedRemainingTime() <= timeToFirstByte) {
            return false;
        }
    }
    const bool noneLeft = l_cancelWithUUID(uuid);
    if (noneLeft && progressImage_) {
        const auto& dataTask = progressImage_->dataTask();
        environment_.downloadQueue->removeDownloadTaskFromQueue(dataTask);
        dataTask->cancel();
        const int64_t total = progressImage_->expectedNumberOfBytes();
        if (resume != nullptr && ifRange_ && total > 0) {
            auto bytes = progressImage_->data();
            if (!bytes.empty()) {
                *resume = PelmarResume{std::move(bytes), *ifRange_, total};
            }
        }
    }
    return noneLeft;
}

void PelmarRemoteImageDownloadTask::setPriority(PelmarRemoteImageManagerPriority priority) {
    PelmarRemoteLock::Hold lock(lock_);
    priority_ = priority;
    if (progressImage_) {
        progressImage_->dataTask()->setPriority(PelmarURLSessionTaskPriorityForPriority(priority));
        environment_.downloadQueue->setQueuePriority(priority, progressImage_->dataTask());
    }
}

std::optional<std::string> PelmarRemoteImageDownloadTask::URL() {
    PelmarRemoteLock::Hold lock(lock_);
    if (!progressImage_) {
        return std::nullopt;
    }
    return progressImage_->dataTask()->originalRequest().url;
}

std::string PelmarRemoteImageDownloadTask::data() {
    std::shared_ptr<PelmarProgressiveImage> image;
    {
        PelmarRemoteLock::Hold lock(lock_);
        image = progressImage_;
    }
    return image ? image->data() : std::string();
}

double PelmarRemoteImageDownloadTask::estimatedRemainingTime() {
    std::shared_ptr<PelmarProgressiveImage> image;
    {
        PelmarRemoteLock::Hold lock(lock_);
        image = progressImage_;
    }
    return image ? image->estimatedRemainingTime() : 0.0;
}

PelmarDataTask PelmarRemoteImageDownloadTask::dataTask() {
    PelmarRemoteLock::Hold lock(lock_);
    return progressImage_ ? progressImage_->dataTask() : nullptr;
}

int32_t PelmarRemoteImageDownloadTask::numberOfRetries() {
    PelmarRemoteLock::Hold lock(lock_);
    return retryStrategy_->numberOfRetries();
}

std::optional<std::string> PelmarRemoteImageDownloadTask::ifRange() {
    PelmarRemoteLock::Hold lock(lock_);
    return ifRange_;
}

}  // namespace pelmar
