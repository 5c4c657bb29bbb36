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
#include "pelmar/core/internal/UploadRequests.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/FileManager.h"

// The three-step upload (create, transfer, confirm) with its record, its failure and completion,
// the processing tick while it runs, and cancelling it.

namespace pelmar {

using internal::familyOf;
using internal::httpStatusError;
using internal::isSuccess;
using internal::noServiceError;
using internal::requestRefusal;
using internal::uploadError;

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

struct PelmarUploadingHandler::UploadRecord {
    uint64_t id = 0;
    Media_Type type = Media_Type::Video;
    std::string givenPath;  // as the caller passed it
    std::string filePath;   // the local path it names
    AnswerCallback callback;
    ProgressCallback progress;
    AnswerCallback confirmCallback;

    // Set in the create completion, before the transfer starts; read-only afterwards.
    std::string token;
    std::string streamToken;

    // Shared by the transfer's callbacks, the main queue's tick and cancelUpload(). A leaf lock:
    // taken alone or after the handler's mutex_, and nothing is called out while it is held.
    mutable Mutex stateMutex;
    Task task PELMAR_GUARDED_BY(stateMutex);
    bool cancelled PELMAR_GUARDED_BY(stateMutex) = false;
    bool ended PELMAR_GUARDED_BY(stateMutex) = false;  // the tick must not start, or must stop
    bool confirmReported PELMAR_GUARDED_BY(stateMutex) = false;

    bool isCancelled() const {
        MutexLock lock(stateMutex);
        return cancelled;
    }

    bool hasEnded() const {
        MutexLock lock(stateMutex);
        return ended;
    }

    bool isRunning() const {
        MutexLock lock(stateMutex);
        return task && task->state() == net::URLSessionTask::State::Running;
    }

    // main queue only
    std::shared_ptr<dispatch::Timer> timer;

    bool startedFrom(const std::string& path, const std::string& localPath) const {
        return givenPath == path || filePath == localPath;
    }

    // The transfer may report before the create completion has told the delegate that it
    // started; its events wait for that, so the delegate hears started first.
    Mutex startMutex;
    CondVar startChanged;
    bool startTold PELMAR_GUARDED_BY(startMutex) = false;

    void markStartTold() {
        {
            MutexLock lock(startMutex);
            startTold = true;
        }
        startChanged.notifyAll();
    }

    void waitUntilStartTold() {
        MutexLock lock(startMutex);
        while (!startTold) {
            startChanged.wait(startMutex);
        }
    }
};

void PelmarUploadingHandler::upload(Media_Type type,
                                    std::string path,
                                    std::optional<Json> data,
                                    AnswerCallback callback,
                                    ProgressCallback progress,
                                    AnswerCallback confirmCallback) {
    auto record = std::make_shared<UploadRecord>();
    record->id = nextUploadId_++;
    record->type = type;
    record->givenPath = path;
    const auto local = Utils::localPath(path);
    record->filePath = local.value_or(path);
    record->callback = std::move(callback);
    record->progress = std::move(progress);
    record->confirmCallback = std::move(confirmCallback);
    {
        MutexLock lock(mutex_);
        uploads_.push_back(record);
    }
    if (auto delegate = this->delegate()) {
        delegate->preparingToUpload(record->filePath);
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
        deliverLater([weak = weak_from_this(), record, error = *refusal] {
            if (record->callback) {
                record->callback(std::nullopt, nullptr, error);
            }
            if (auto self = weak.lock()) {
                self->failUpload(record, nullptr, error);
            }
        });
        return;
    }

    const std::string createUrl = type == Media_Type::Video
                                          ? getApiUrl(type, "/videos-upload-url?create_stream=true")
                                          : getApiUrl(type, "");
    client->postJsonWithPath(
            createUrl, std::move(data),
            [weak = weak_from_this(), record](std::optional<Json> json, Response response,
                                              std::optional<Error> error) {
                if (auto self = weak.lock()) {
                    self->created(record, std::move(json), std::move(response), std::move(error));
                } else if (record->callback) {
                    record->callback(std::move(json), std::move(response), std::move(error));
                }
            });
}

void PelmarUploadingHandler::created(const std::shared_ptr<UploadRecord>& record,
                                     std::optional<Json> json,
                                     Response response,
                                     std::optional<Error> error) {
    if (record->callback) {
        record->callback(json, response, error);
    }
    if (record->isCancelled()) {
        failUpload(record, response, uploadError(kUploadErrorCancelled, "upload cancelled"));
        return;
    }
    if (error) {
        failUpload(record, response, *error);
        return;
    }
    if (!isSuccess(response)) {
        failUpload(record, response, httpStatusError("create request", response));
        return;
    }
    const internal::UploadFamily family = familyOf(record->type);
    const auto token = json ? stringAt(*json, family.resourceKey, "token") : std::nullopt;
    const auto streamToken = json ? stringAt(*json, family.streamKey, "token") : std::nullopt;
    const auto url = json ? stringAt(*json, "url_data", "url") : std::nullopt;
    if (!token || !streamToken || !url || !internal::isSafeToken(*token)
        || !internal::isSafeToken(*streamToken) || url->empty()) {
        failUpload(record, response,
                   uploadError(kUploadErrorBadCreateAnswer,
                               "create answer lacks usable tokens or an upload URL"));
        return;
    }
    std::optional<Json> fields;
    if (const auto& urlData = (*json)["url_data"]; urlData.contains("fields")) {
        fields = urlData["fields"];
    }
    record->token = *token;
    record->streamToken = *streamToken;

    auto client = connect();
    if (!client) {
        failUpload(record, response, noServiceError());
        return;
    }
    const std::string identifier = std::string(family.collection) + "/" + record->token
                                   + "/streams/" + record->streamToken
                                   + std::string(family.submitSuffix);
    std::weak_ptr<PelmarUploadingHandler> weak = weak_from_this();
    Task task = client->uploadFileWithPath(
            *url, fields, identifier, record->filePath, "file", "video/mp4", "mp4",
            [weak, record](std::optional<std::string>, Response transferResponse,
                           std::optional<Error> transferError) {
                record->waitUntilStartTold();
                if (auto self = weak.lock()) {
                    self->transferEnded(record, std::move(transferResponse),
                                        std::move(transferError));
                }
            },
            [weak, record](int64_t sent, int64_t expected) {
                record->waitUntilStartTold();
                if (record->progress) {
                    record->progress(sent, expected);
                }
                if (auto self = weak.lock()) {
                    if (auto delegate = self->delegate()) {
                        delegate->uploadProgress(record->givenPath, record->token,
                                                 record->streamToken, sent, expected);
                    }
                }
            });
    bool cancelNow = false;
    {
        MutexLock lock(record->stateMutex);
        if (!record->ended) {
            record->task = task;
            cancelNow = record->cancelled;
        }
    }
    if (cancelNow && task) {
        task->cancel();
    }
    if (auto delegate = this->delegate()) {
        delegate->uploadStarted(record->filePath, record->token, record->streamToken, task);
    }
    record->markStartTold();
    startTick(record);
}

void PelmarUploadingHandler::transferEnded(const std::shared_ptr<UploadRecord>& record,
                                           Response response,
                                           std::optional<Error> error) {
    bool cancelled = false;
    {
        MutexLock lock(record->stateMutex);
        record->task = nullptr;
        cancelled = record->cancelled;
    }
    if (cancelled) {
        failUpload(record, response, uploadError(kUploadErrorCancelled, "upload cancelled"));
        return;
    }
    if (error) {
        failUpload(record, response, *error);
        return;
    }
    if (!isSuccess(response)) {
        failUpload(record, response, httpStatusError("storage", response));
        return;
    }
    if (auto delegate = this->delegate()) {
        delegate->uploadFinished(record->givenPath, record->token, record->streamToken);
    }
    confirm(record->type, record->token, record->streamToken, std::nullopt,
            [weak = weak_from_this(), record](std::optional<Json> json, Response confirmResponse,
                                              std::optional<Error> confirmError) {
                if (auto self = weak.lock()) {
                    self->confirmed(record, std::move(json), std::move(confirmResponse),
                                    std::move(confirmError));
                } else if (record->confirmCallback) {
                    record->confirmCallback(std::move(json), std::move(confirmResponse),
                                            std::move(confirmError));
                }
            });
}

void PelmarUploadingHandler::failUpload(const std::shared_ptr<UploadRecord>& record,
                                        Response response,
                                        Error error) {
    bool report = false;
    bool cancelled = false;
    {
        MutexLock lock(record->stateMutex);
        report = !record->confirmReported;
        record->confirmReported = true;
        cancelled = record->cancelled;
    }
    stopTick(record);
    forget(record);
    if (!report) {
        return;
    }
    if (!cancelled) {
        if (auto delegate = this->delegate()) {
            delegate->failedToUpload(record->filePath);
        }
    }
    if (record->confirmCallback) {
        record->confirmCallback(std::nullopt, std::move(response), std::move(error));
    }
}

void PelmarUploadingHandler::confirmed(const std::shared_ptr<UploadRecord>& record,
                                       std::optional<Json> json,
                                       Response response,
                                       std::optional<Error> error) {
    {
        MutexLock lock(record->stateMutex);
        record->confirmReported = true;
    }
    stopTick(record);
    forget(record);
    if (record->confirmCallback) {
        record->confirmCallback(json, response, error);
    }
    tellCompleted(record->givenPath, record->token, record->streamToken, response, error, json);
}

void PelmarUploadingHandler::uploadCompleted(Media_Type /*type*/,
                                             const std::string& path,
                                             const std::string& token,
                                             const std::string& streamToken,
                                             const std::optional<Json>& confirmJsonObject,
                                             const Response& confirmResponse,
                                             const std::optional<Error>& confirmError) {
    for (const auto& record : uploadsFrom(path)) {
        stopTick(record);
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
        delegate->uploadProcessed(path, token, streamToken);
    }
}

std::vector<std::shared_ptr<PelmarUploadingHandler::UploadRecord>>
PelmarUploadingHandler::uploadsFrom(const std::string& path) const {
    std::vector<std::shared_ptr<UploadRecord>> found;
    if (path.empty()) {
        return found;
    }
    const std::string localPath = Utils::localPath(path).value_or(path);
    MutexLock lock(mutex_);
    for (const auto& record : uploads_) {
        if (record->startedFrom(path, localPath)) {
            found.push_back(record);
        }
    }
    return found;
}

void PelmarUploadingHandler::startTick(const std::shared_ptr<UploadRecord>& record) {
    dispatch::Queue::main()->async([weak = weak_from_this(), record] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (record->hasEnded()) {
            return;
        }
        std::weak_ptr<UploadRecord> weakRecord = record;
        record->timer = dispatch::Timer::scheduled(
                kProcessingTickSeconds, /*repeats=*/true, [weak, weakRecord] {
                    auto handler = weak.lock();
                    auto upload = weakRecord.lock();
                    if (!handler || !upload) {
                        return;
                    }
                    // The upload may have ended with its stop still queued behind this fire.
                    if (upload->hasEnded()) {
                        return;
                    }
                    if (auto delegate = handler->delegate()) {
                        delegate->uploadProcessing(upload->filePath, upload->token,
                                                   upload->streamToken);
                    }
                });
    });
}

void PelmarUploadingHandler::stopTick(const std::shared_ptr<UploadRecord>& record) {
    {
        MutexLock lock(record->stateMutex);
        record->ended = true;
    }
    // The tick is made on the main queue; stopping it there too means a stop can never run
    // before the start it belongs to.
    dispatch::Queue::main()->async([record] {
        if (record->timer) {
            record->timer->invalidate();
            record->timer = nullptr;
        }
    });
}

void PelmarUploadingHandler::forget(const std::shared_ptr<UploadRecord>& record) {
    MutexLock lock(mutex_);
    std::erase(uploads_, record);
}

size_t PelmarUploadingHandler::activeUploads() const {
    MutexLock lock(mutex_);
    return uploads_.size();
}

bool PelmarUploadingHandler::isReading(const std::string& path) const {
    return !uploadsFrom(path).empty();
}

void PelmarUploadingHandler::stopTimer() {
    std::vector<std::shared_ptr<UploadRecord>> records;
    {
        MutexLock lock(mutex_);
        records = uploads_;
    }
    for (const auto& record : records) {
        stopTick(record);
    }
}

void PelmarUploadingHandler::cancelUpload(const std::optional<std::string>& path, bool deleteFile) {
    const bool named = path && !path->empty();
    const std::string localPath = named ? Utils::localPath(*path).value_or(*path) : std::string();
    std::shared_ptr<UploadRecord> target;
    Task task;
    {
        MutexLock lock(mutex_);
        for (const auto& record : uploads_) {
            if (record->isCancelled()) {
                continue;
            }
            if (named) {
                if (record->startedFrom(*path, localPath)) {
                    target = record;
                    break;
                }
            } else if (record->isRunning()) {
                target = record;
                break;
            }
        }
        if (!target && !named) {
            for (const auto& record : uploads_) {
                if (!record->isCancelled()) {
                    target = record;
                    break;
                }
            }
        }
        if (target) {
            MutexLock targetLock(target->stateMutex);
            target->cancelled = true;
            task = target->task;
        }
    }
    if (target) {
        stopTick(target);
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
