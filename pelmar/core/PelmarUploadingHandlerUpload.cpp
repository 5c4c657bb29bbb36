#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/Utils.h"
#include "pelmar/core/internal/FacadeLink.h"
#include "pelmar/core/internal/TokenCheck.h"
#include "pelmar/core/internal/UploadJob.h"
#include "pelmar/core/internal/UploadRequests.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/FileManager.h"

// The three-step upload (create, transfer, confirm) with its job, its failure and completion,
// the processing tick while it runs, and cancelling it.

namespace pelmar {

using core::internal::familyOf;
using core::internal::httpStatusError;
using core::internal::isSuccess;
using core::internal::noServiceError;
using core::internal::requestRefusal;
using core::internal::stepFailure;
using core::internal::uploadError;
using core::internal::UploadJob;

namespace {

// A string member of an object member, or none.
std::optional<std::string> stringAt(const Json& json,
                                    std::string_view outer,
                                    std::string_view inner) {
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto object = json.find(std::string(outer));
    if (object == json.end() || !object->is_object()) {
        return std::nullopt;
    }
    const auto value = object->find(std::string(inner));
    if (value == object->end() || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

bool isReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

// The steps of an upload after preparingToUpload, each called with the handler that runs it.
struct PelmarUploadingHandler::UploadSteps {
    static void created(PelmarUploadingHandler& handler,
                        const std::shared_ptr<UploadJob>& job,
                        std::optional<Json> json,
                        Response response,
                        std::optional<Error> error);

    static void transferEnded(PelmarUploadingHandler& handler,
                              const std::shared_ptr<UploadJob>& job,
                              Response response,
                              std::optional<Error> error);

    // Ends an upload that failed (or was cancelled) with `error`.
    static void failUpload(PelmarUploadingHandler& handler,
                           const std::shared_ptr<UploadJob>& job,
                           Response response,
                           Error error);

    static void confirmed(PelmarUploadingHandler& handler,
                          const std::shared_ptr<UploadJob>& job,
                          std::optional<Json> json,
                          Response response,
                          std::optional<Error> error);

    // Ends an upload whose handler has gone: it cannot go on, and only its caller hears of its
    // end, with `failure` (the step's own) or kUploadErrorNoService.
    static void endWithoutHandler(const std::shared_ptr<UploadJob>& job,
                                  Response response,
                                  std::optional<Error> failure);
};

void PelmarUploadingHandler::upload(Media_Type type,
                                    std::string path,
                                    std::optional<Json> data,
                                    AnswerCallback callback,
                                    ProgressCallback progress,
                                    AnswerCallback confirmCallback) {
    const auto local = Utils::localPath(path);
    auto job = std::make_shared<UploadJob>(nextUploadId_++, type, path, local.value_or(path),
                                           std::move(callback), std::move(progress),
                                           std::move(confirmCallback));
    {
        MutexLock lock(mutex_);
        uploads_.push_back(job);
    }
    if (auto delegate = this->delegate()) {
        delegate->preparingToUpload(job->filePath);
    }

    auto client = connect();
    std::optional<Error> refusal = requestRefusal(client, appToken(), {});
    if (std::error_code ec;
        !refusal && (!local || local->empty() || !std::filesystem::is_regular_file(*local, ec))) {
        refusal = uploadError(kUploadErrorUnusablePath, "no file to upload at \"" + path + "\"");
    } else if (!refusal && !isReadable(*local)) {
        // Refused before the service makes a resource that would then never get its file.
        refusal = uploadError(kUploadErrorUnusablePath, "cannot read the file at \"" + path + "\"");
    } else if (!refusal && std::filesystem::file_size(*local, ec) == 0 && !ec) {
        // The service would confirm an empty resource as a finished upload.
        refusal = uploadError(kUploadErrorEmptyFile, "the file at \"" + path + "\" is empty");
    }
    if (refusal) {
        // Nothing was sent: the caller hears of it as of a failed create request.
        deliverLater([weak = weak_from_this(), job, error = *refusal] {
            if (job->callback) {
                job->callback(std::nullopt, nullptr, error);
            }
            if (auto self = weak.lock()) {
                UploadSteps::failUpload(*self, job, nullptr, error);
            } else {
                UploadSteps::endWithoutHandler(job, nullptr, error);
            }
        });
        return;
    }

    const std::string createUrl = type == Media_Type::Video
                                          ? getApiUrl(type, "/videos-upload-url?create_stream=true")
                                          : getApiUrl(type, "");
    client->postJsonWithPath(
            createUrl, std::move(data),
            [weak = weak_from_this(), job](std::optional<Json> json, Response response,
                                           std::optional<Error> error) {
                if (auto self = weak.lock()) {
                    UploadSteps::created(*self, job, std::move(json), std::move(response),
                                         std::move(error));
                    return;
                }
                if (job->callback) {
                    job->callback(json, response, error);
                }
                UploadSteps::endWithoutHandler(
                        job, response,
                        stepFailure(job->isCancelled(), error, response, "create request"));
            });
}

void PelmarUploadingHandler::UploadSteps::created(PelmarUploadingHandler& handler,
                                                  const std::shared_ptr<UploadJob>& job,
                                                  std::optional<Json> json,
                                                  Response response,
                                                  std::optional<Error> error) {
    if (job->callback) {
        job->callback(json, response, error);
    }
    if (auto failure = stepFailure(job->isCancelled(), error, response, "create request")) {
        failUpload(handler, job, response, std::move(*failure));
        return;
    }
    const core::internal::UploadFamily family = familyOf(job->type);
    const auto token = json ? stringAt(*json, family.resourceKey, "token") : std::nullopt;
    const auto streamToken = json ? stringAt(*json, family.streamKey, "token") : std::nullopt;
    const auto url = json ? stringAt(*json, "url_data", "url") : std::nullopt;
    if (!token || !streamToken || !url || !core::internal::isSafeToken(*token)
        || !core::internal::isSafeToken(*streamToken) || url->empty()) {
        failUpload(handler, job, response,
                   uploadError(kUploadErrorBadCreateAnswer,
                               "create answer lacks usable tokens or an upload URL"));
        return;
    }
    std::optional<Json> fields;
    if (const auto& urlData = (*json)["url_data"]; urlData.contains("fields")) {
        fields = urlData["fields"];
    }
    job->token = *token;
    job->streamToken = *streamToken;

    auto client = handler.connect();
    if (!client) {
        failUpload(handler, job, response, noServiceError());
        return;
    }
    const std::string identifier = std::string(family.collection) + "/" + job->token + "/streams/"
                                   + job->streamToken + std::string(family.submitSuffix);
    std::weak_ptr<PelmarUploadingHandler> weak = handler.weak_from_this();
    Task task = client->uploadFileWithPath(
            *url, fields, identifier, job->filePath, "file", "video/mp4", "mp4",
            [weak, job](std::optional<std::string>, Response transferResponse,
                        std::optional<Error> transferError) {
                job->waitUntilStartTold();
                if (auto self = weak.lock()) {
                    transferEnded(*self, job, std::move(transferResponse),
                                  std::move(transferError));
                    return;
                }
                const bool cancelled = job->transferEnded();
                endWithoutHandler(
                        job, transferResponse,
                        stepFailure(cancelled, transferError, transferResponse, "storage"));
            },
            [weak, job](int64_t sent, int64_t expected) {
                job->waitUntilStartTold();
                // The caller hears the progress of its transfer to the end; the delegate only
                // while the handler is there.
                if (job->progress) {
                    job->progress(sent, expected);
                }
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                if (auto delegate = self->delegate()) {
                    delegate->uploadProgress(job->givenPath, job->token, job->streamToken, sent,
                                             expected);
                }
            });
    if (job->holdTask(task) && task) {
        task->cancel();
    }
    if (auto delegate = handler.delegate()) {
        delegate->uploadStarted(job->filePath, job->token, job->streamToken, task);
    }
    job->markStartTold();
    job->startTick([weak](UploadJob& ticking) {
        if (auto self = weak.lock()) {
            if (auto delegate = self->delegate()) {
                delegate->uploadProcessing(ticking.filePath, ticking.token, ticking.streamToken);
            }
        }
    });
}

void PelmarUploadingHandler::UploadSteps::transferEnded(PelmarUploadingHandler& handler,
                                                        const std::shared_ptr<UploadJob>& job,
                                                        Response response,
                                                        std::optional<Error> error) {
    const bool cancelled = job->transferEnded();
    if (auto failure = stepFailure(cancelled, error, response, "storage")) {
        failUpload(handler, job, response, std::move(*failure));
        return;
    }
    if (auto delegate = handler.delegate()) {
        delegate->uploadFinished(job->givenPath, job->token, job->streamToken);
    }
    handler.confirm(job->type, job->token, job->streamToken, std::nullopt,
                    [weak = handler.weak_from_this(), job](std::optional<Json> json,
                                                           Response confirmResponse,
                                                           std::optional<Error> confirmError) {
                        if (auto self = weak.lock()) {
                            confirmed(*self, job, std::move(json), std::move(confirmResponse),
                                      std::move(confirmError));
                        } else if (job->end() && job->confirmCallback) {
                            // The confirmation went out: its answer is the upload's end.
                            job->confirmCallback(std::move(json), std::move(confirmResponse),
                                                 std::move(confirmError));
                        }
                    });
}

void PelmarUploadingHandler::UploadSteps::failUpload(PelmarUploadingHandler& handler,
                                                     const std::shared_ptr<UploadJob>& job,
                                                     Response response,
                                                     Error error) {
    const bool report = job->end();
    handler.forget(job);
    if (!report) {
        return;
    }
    if (!job->isCancelled()) {
        if (auto delegate = handler.delegate()) {
            delegate->failedToUpload(job->filePath);
        }
    }
    if (job->confirmCallback) {
        job->confirmCallback(std::nullopt, std::move(response), std::move(error));
    }
}

void PelmarUploadingHandler::UploadSteps::confirmed(PelmarUploadingHandler& handler,
                                                    const std::shared_ptr<UploadJob>& job,
                                                    std::optional<Json> json,
                                                    Response response,
                                                    std::optional<Error> error) {
    job->end();
    handler.forget(job);
    if (job->confirmCallback) {
        job->confirmCallback(json, response, error);
    }
    handler.tellCompleted(job->givenPath, job->token, job->streamToken, response, error, json);
}

void PelmarUploadingHandler::UploadSteps::endWithoutHandler(const std::shared_ptr<UploadJob>& job,
                                                            Response response,
                                                            std::optional<Error> failure) {
    if (!job->end()) {
        return;
    }
    if (job->confirmCallback) {
        job->confirmCallback(std::nullopt, std::move(response),
                             failure ? std::move(*failure) : noServiceError());
    }
}

void PelmarUploadingHandler::uploadCompleted(Media_Type /*type*/,
                                             const std::string& path,
                                             const std::string& token,
                                             const std::string& streamToken,
                                             const std::optional<Json>& confirmJsonObject,
                                             const Response& confirmResponse,
                                             const std::optional<Error>& confirmError) {
    for (const auto& job : uploadsFrom(path)) {
        job->stopTick();
    }
    tellCompleted(path, token, streamToken, confirmResponse, confirmError, confirmJsonObject);
}

void PelmarUploadingHandler::tellCompleted(const std::string& path,
                                           const std::string& token,
                                           const std::string& streamToken,
                                           const Response& response,
                                           const std::optional<Error>& error,
                                           const std::optional<Json>& json) {
    if (auto delegate = this->delegate()) {
        delegate->uploadVerified(path, token, streamToken, response, error, json);
    }
    // Asked again: a facade that ended while its delegate heard uploadVerified tells it no more.
    if (auto delegate = this->delegate()) {
        delegate->uploadProcessed(path, token, streamToken);
    }
}

std::vector<std::shared_ptr<UploadJob>> PelmarUploadingHandler::uploadsFrom(
        const std::string& path) const {
    std::vector<std::shared_ptr<UploadJob>> found;
    if (path.empty()) {
        return found;
    }
    const std::string localPath = Utils::localPath(path).value_or(path);
    MutexLock lock(mutex_);
    for (const auto& job : uploads_) {
        if (job->startedFrom(path, localPath)) {
            found.push_back(job);
        }
    }
    return found;
}

void PelmarUploadingHandler::forget(const std::shared_ptr<UploadJob>& job) {
    MutexLock lock(mutex_);
    std::erase(uploads_, job);
}

size_t PelmarUploadingHandler::activeUploads() const {
    MutexLock lock(mutex_);
    return uploads_.size();
}

bool PelmarUploadingHandler::isReading(const std::string& path) const {
    return !uploadsFrom(path).empty();
}

void PelmarUploadingHandler::stopTimer() {
    std::vector<std::shared_ptr<UploadJob>> jobs;
    {
        MutexLock lock(mutex_);
        jobs = uploads_;
    }
    for (const auto& job : jobs) {
        job->stopTick();
    }
}

void PelmarUploadingHandler::cancelUpload(const std::optional<std::string>& path, bool deleteFile) {
    const bool named = path && !path->empty();
    const std::string localPath = named ? Utils::localPath(*path).value_or(*path) : std::string();
    std::shared_ptr<UploadJob> target;
    Task task;
    {
        MutexLock lock(mutex_);
        for (const auto& job : uploads_) {
            if (job->isCancelled()) {
                continue;
            }
            if (named) {
                if (job->startedFrom(*path, localPath)) {
                    target = job;
                    break;
                }
            } else if (job->isRunning()) {
                target = job;
                break;
            }
        }
        if (!target && !named) {
            for (const auto& job : uploads_) {
                if (!job->isCancelled()) {
                    target = job;
                    break;
                }
            }
        }
        if (target) {
            task = target->markCancelled();
        }
    }
    if (target) {
        target->stopTick();
        if (task) {
            task->cancel();
        }
    }
    if (deleteFile && named) {
        const auto cache = application_->with([](Pelmar& facade) { return facade.cacheManager(); })
                                   .value_or(nullptr);
        if (cache) {
            cache->removeFile(localPath);
        } else {
            (void)foundation::FileManager::removeItem(localPath);
        }
    }
}

}  // namespace pelmar
