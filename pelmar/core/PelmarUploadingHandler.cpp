#include "pelmar/core/PelmarUploadingHandler.h"

#include <filesystem>
#include <random>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/core/internal/FacadeLink.h"
#include "pelmar/core/internal/TokenCheck.h"
#include "pelmar/core/internal/UploadRequests.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/net/URLSession.h"

// The handler's links to the facade, its URLs, the media API calls (list, get, update, confirm,
// delete) and downloads into the local cache. The three-step upload is in
// PelmarUploadingHandlerUpload.cpp.

namespace pelmar {

using core::internal::familyOf;
using core::internal::httpStatusError;
using core::internal::isSuccess;
using core::internal::requestRefusal;
using core::internal::uploadError;

namespace {

// The resource token, then the stream token when one is given.
std::vector<std::string_view> resourceTokens(std::string_view token, std::string_view streamToken) {
    if (streamToken.empty()) {
        return {token};
    }
    return {token, streamToken};
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    return std::to_string(generator());
}

}  // namespace

std::shared_ptr<PelmarUploadingHandler> PelmarUploadingHandler::create(Pelmar& application) {
    return std::make_shared<PelmarUploadingHandler>(Private{}, application);
}

PelmarUploadingHandler::PelmarUploadingHandler(Private, Pelmar& application)
    : application_(std::make_unique<core::internal::FacadeLink>(application)) {}

PelmarUploadingHandler::~PelmarUploadingHandler() {
    // Uploads still running outlive the handler only as their own callbacks; their ticks must
    // not stay scheduled on the main loop.
    stopTimer();
}

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
    if (!core::internal::isSafeToken(token)) {
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
    const core::internal::UploadFamily family = familyOf(type);
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

void PelmarUploadingHandler::download(Media_Type type,
                                      std::string token,
                                      DownloadCallback callback) {
    const auto cache = application_->with([](Pelmar& facade) { return facade.cacheManager(); })
                               .value_or(nullptr);
    const std::string remote = getPath(type, token);
    const auto cachePath =
            cache ? cache->getCacheFilePath(type, token) : std::optional<std::string>();
    const auto app = appToken();
    if (remote.empty() || !cachePath || !app || !core::internal::isSafeToken(*app)) {
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
