#include "pelmar/core/PelmarUploadingHandler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/core/Utils.h"
#include "pelmar/core/internal/FacadeLink.h"
#include "pelmar/core/internal/TokenCheck.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"

namespace pelmar {

namespace {

// What differs between the three media kinds.
struct Family {
    std::string_view collection;  // "/videos"
    std::string_view fileName;    // "/video.mp4"
    std::string_view resourceKey;
    std::string_view streamKey;
    std::string_view submitSuffix;
};

Family familyOf(Media_Type type) {
    switch (type) {
        case Media_Type::Video:
            return {"/videos", "/video.mp4", "video", "stream", "/video_submit"};
        case Media_Type::Audio:
            return {"/audios", "/audio.aac", "audio", "audio_stream", "/audio_submit"};
        case Media_Type::Image:
            return {"/images", "/image.jpg", "image", "image_stream", "/image_submit"};
    }
    return familyOf(Media_Type::Video);
}

Error uploadError(UploadErrorCode code, std::string message) {
    return Error{std::string(kUploadErrorDomain), code, std::move(message)};
}

Error invalidTokenError(std::string_view token) {
    return uploadError(kUploadErrorInvalidToken,
                       "token cannot be used in a URL: \"" + std::string(token) + "\"");
}

Error noServiceError() {
    return uploadError(kUploadErrorNoService, "the SDK facade has ended");
}

// Why a request cannot be built: the facade has ended, or the app token or one of `tokens` would
// not be safe in a URL path. None when the request can go out.
std::optional<Error> requestRefusal(const std::shared_ptr<PelmarConnect>& client,
                                    const std::optional<std::string>& app,
                                    const std::vector<std::string_view>& tokens) {
    if (!client) {
        return noServiceError();
    }
    if (!app || !internal::isSafeToken(*app)) {
        return invalidTokenError(app.value_or(""));
    }
    for (std::string_view token : tokens) {
        if (!internal::isSafeToken(token)) {
            return invalidTokenError(token);
        }
    }
    return std::nullopt;
}

// The resource token, then the stream token when one is given.
std::vector<std::string_view> resourceTokens(std::string_view token, std::string_view streamToken) {
    if (streamToken.empty()) {
        return {token};
    }
    return {token, streamToken};
}

bool isSuccess(const PelmarUploadingHandler::Response& response) {
    return response && response->statusCode() >= 200 && response->statusCode() < 300;
}

// "<what> answered HTTP <status>".
Error httpStatusError(std::string_view what, const PelmarUploadingHandler::Response& response) {
    const long status = response ? response->statusCode() : 0;
    return uploadError(kUploadErrorHTTPStatus,
                       std::string(what) + " answered HTTP " + std::to_string(status));
}

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

std::string randomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::to_string(generator());
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

std::shared_ptr<PelmarUploadingHandler> PelmarUploadingHandler::create(Pelmar& application) {
    return std::make_shared<PelmarUploadingHandler>(Private{}, application);
}

PelmarUploadingHandler::PelmarUploadingHandler(Private, Pelmar& application)
    : application_(std::make_unique<internal::FacadeLink>(application)) {}

PelmarUploadingHandler::~PelmarUploadingHandler() = default;

void PelmarUploadingHandler::detachApplication() {
    application_->cut();
}

std::shared_ptr<PelmarUploadingDelegate> PelmarUploadingHandler::delegate() const {
    return application_->with([](Pelmar& facade) { return facade.uploadingDelegate(); })
            .value_or(nullptr);
}

std::shared_ptr<PelmarConnect> PelmarUploadingHandler::connect() const {
    return application_->with([](Pelmar& facade) { return facade.connect(); }).value_or(nullptr);
}

std::optional<std::string> PelmarUploadingHandler::appToken() const {
    return application_->with([](Pelmar& facade) { return facade.getAppToken(); });
}

void PelmarUploadingHandler::deliverLater(std::function<void()> block) {
    net::URLSession::shared()->delegateQueue()->async(std::move(block));
}

std::string PelmarUploadingHandler::getApiUrl(Media_Type type, std::string_view path) const {
    const auto base = application_->with([type](Pelmar& facade) {
        const PelmarConfig& config = facade.config();
        const std::string api =
                type == Media_Type::Video ? config.serverAPIUrl() : config.devServerApiUrl();
        return api + "/v1/applications/" + facade.getAppToken();
    });
    if (!base) {
        return {};
    }
    return *base + std::string(familyOf(type).collection) + std::string(path);
}

std::string PelmarUploadingHandler::getPath(Media_Type type, std::string_view token) const {
    if (!internal::isSafeToken(token)) {
        return {};
    }
    const auto base = application_->with([type](Pelmar& facade) {
        const PelmarConfig& config = facade.config();
        const std::string files =
                type == Media_Type::Video ? config.cdnAPIUrl() : config.fileServerUrl();
        return files + "/v1/applications/" + facade.getAppToken();
    });
    if (!base) {
        return {};
    }
    const Family family = familyOf(type);
    return *base + std::string(family.collection) + "/" + std::string(token)
           + std::string(family.fileName);
}

void PelmarUploadingHandler::index(Media_Type type,
                                   std::optional<Json> /*data*/,
                                   ListCallback callback) {
    auto client = connect();
    if (auto refusal = requestRefusal(client, appToken(), {})) {
        failLater(std::move(callback), std::vector<ContentModel>{}, *refusal);
        return;
    }
    client->getJsonArrayWithPath(
            getApiUrl(type, ""), std::nullopt,
            [callback = std::move(callback)](std::optional<Json> json, Response response,
                                             std::optional<Error> error) {
                // A refused request or an answer that is not a list must not pass for an empty
                // list.
                if (!error && !isSuccess(response)) {
                    error = httpStatusError("list", response);
                } else if (!error && (!json || !json->is_array())) {
                    error = uploadError(kUploadErrorBadAnswer,
                                        "the list answer is not a JSON array");
                }
                std::vector<ContentModel> items;
                if (!error && json && json->is_array()) {
                    for (const Json& element : *json) {
                        items.emplace_back(element.is_object() ? std::optional<Json>(element)
                                                               : std::nullopt);
                    }
                }
                if (callback) {
                    callback(std::move(items), std::move(error));
                }
            });
}

void PelmarUploadingHandler::get(Media_Type type,
                                 std::string token,
                                 std::optional<Json> data,
                                 ModelCallback callback) {
    auto client = connect();
    if (auto refusal = requestRefusal(client, appToken(), {token})) {
        failLater(std::move(callback), ContentModel(), Response(), *refusal);
        return;
    }
    client->getJsonWithPath(
            getApiUrl(type, "/" + token), std::move(data),
            [type, callback = std::move(callback)](std::optional<Json> json, Response response,
                                                   std::optional<Error> error) {
                std::optional<Json> dict;
                if (json && json->is_object()) {
                    if (type == Media_Type::Video) {
                        dict = std::move(json);
                    } else {
                        const auto member = json->find(std::string(familyOf(type).resourceKey));
                        if (member != json->end() && member->is_object()) {
                            dict = *member;
                        }
                    }
                }
                if (callback) {
                    callback(ContentModel(dict), std::move(response), std::move(error));
                }
            });
}

void PelmarUploadingHandler::update(Media_Type type,
                                    std::string token,
                                    std::string streamToken,
                                    std::optional<Json> data,
                                    UpdateCallback callback) {
    auto client = connect();
    if (auto refusal = requestRefusal(client, appToken(), resourceTokens(token, streamToken))) {
        failLater(std::move(callback), std::optional<ContentModel>(), Response(), *refusal);
        return;
    }
    const std::string path =
            streamToken.empty() ? "/" + token : "/" + token + "/streams/" + streamToken;
    client->postJsonWithPath(
            getApiUrl(type, path), std::move(data),
            [callback = std::move(callback)](std::optional<Json> json, Response response,
                                             std::optional<Error> error) {
                std::optional<Json> dict;
                if (json && json->is_object()) {
                    dict = std::move(json);
                }
                if (callback) {
                    callback(ContentModel(dict), std::move(response), std::move(error));
                }
            });
}

void PelmarUploadingHandler::confirm(Media_Type type,
                                     std::string token,
                                     std::string streamToken,
                                     std::optional<Json> data,
                                     AnswerCallback callback) {
    auto client = connect();
    const bool video = type == Media_Type::Video;
    // A video is confirmed on its stream, so its stream token must be usable even when empty.
    const std::vector<std::string_view> tokens =
            video ? std::vector<std::string_view>{token, streamToken}
                  : std::vector<std::string_view>{token};
    if (auto refusal = requestRefusal(client, appToken(), tokens)) {
        failLater(std::move(callback), std::optional<Json>(), Response(), *refusal);
        return;
    }
    const std::string path = video ? "/" + token + "/streams/" + streamToken + "/confirm-video"
                                   : "/" + token + "/confirm";
    client->postJsonWithPath(
            getApiUrl(type, path), std::move(data),
            [callback = std::move(callback)](std::optional<Json> json, Response response,
                                             std::optional<Error> error) {
                if (callback) {
                    callback(std::move(json), std::move(response), std::move(error));
                }
            });
}

void PelmarUploadingHandler::deleteResource(Media_Type type,
                                            std::string token,
                                            std::string streamToken,
                                            AnswerCallback callback) {
    auto client = connect();
    if (auto refusal = requestRefusal(client, appToken(), resourceTokens(token, streamToken))) {
        failLater(std::move(callback), std::optional<Json>(), Response(), *refusal);
        return;
    }
    const std::string path =
            streamToken.empty() ? "/" + token : "/" + token + "/streams/" + streamToken;
    client->deleteJsonWithPath(
            getApiUrl(type, path), std::nullopt,
            [weak = weak_from_this(), token, streamToken, callback = std::move(callback)](
                    std::optional<Json> json, Response response, std::optional<Error> error) {
                if (callback) {
                    callback(json, response, error);
                }
                if (auto self = weak.lock()) {
                    if (auto delegate = self->delegate()) {
                        delegate->deleted(token, streamToken, response, error, json);
                    }
                }
            });
}

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
    const Family family = familyOf(record->type);
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

void PelmarUploadingHandler::download(Media_Type type,
                                      std::string token,
                                      DownloadCallback callback) {
    const auto cache = application_->with([](Pelmar& facade) { return facade.cacheManager(); })
                               .value_or(nullptr);
    const std::string remote = getPath(type, token);
    const auto cachePath =
            cache ? cache->getCacheFilePath(type, token) : std::optional<std::string>();
    const auto app = appToken();
    if (remote.empty() || !cachePath || !app || !internal::isSafeToken(*app)) {
        dispatch::Queue::main()->async([callback = std::move(callback)] {
            if (callback) {
                callback(std::string());
            }
        });
        return;
    }
    auto task = net::URLSession::shared()->downloadTask(
            net::URLRequest(remote),
            [type, cache, remote, target = *cachePath, callback = std::move(callback)](
                    std::optional<std::filesystem::path> file, Response response,
                    std::optional<Error> error) {
                std::string result = remote;
                if (!error && file && isSuccess(response)) {
                    // The answer is moved next to the cache file under a name the trim never
                    // matches, then renamed over it in one step.
                    const std::string partial = target + ".download-" + randomSuffix();
                    if (!foundation::FileManager::moveItem(*file, partial)) {
                        std::error_code ec;
                        std::filesystem::rename(partial, target, ec);
                        if (!ec) {
                            cache->trimCache(type, target);
                            result = target;
                        } else {
                            (void)foundation::FileManager::removeItem(partial);
                        }
                    }
                }
                dispatch::Queue::main()->async([callback, result] {
                    if (callback) {
                        callback(result);
                    }
                });
            });
    task->resume();
}

}  // namespace pelmar
