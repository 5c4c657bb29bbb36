#include "pelmar/core/PelmarVideos.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/Utils.h"
#include "pelmar/core/internal/FacadeLink.h"
#include "pelmar/core/internal/OnMain.h"
#include "pelmar/core/internal/TokenCheck.h"
#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/image/PictureCodec.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/replaykit/SystemBroadcastPickerView.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/watch/FolderWatcher.h"

namespace pelmar {

using core::internal::onMain;

namespace {

// The cover as JPEG bytes: a JPEG file is sent as it is stored, anything else is encoded.
std::pair<std::optional<std::string>, std::optional<Error>> coverJPEG(const ui::Image& cover) {
    if (!cover.path().empty()) {
        std::ifstream in(cover.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF
            && static_cast<unsigned char>(bytes[1]) == 0xD8) {
            return {std::move(bytes), std::nullopt};
        }
    }
    if (!cover.bitmap()) {
        return {std::nullopt, Error{std::string(image::kImageErrorDomain), image::kImageErrorEncode,
                                    "the picture's pixels cannot be read"}};
    }
    return image::PictureCodec::encodeJPEG(*cover.bitmap(), PelmarVideos::kCoverJPEGQuality);
}

Error invalidTokenError(const std::string& token) {
    return Error{std::string(kUploadErrorDomain), kUploadErrorInvalidToken,
                 "token cannot be used in a URL: \"" + token + "\""};
}

bool tokensSafe(const std::string& token, const std::string& streamToken = "x") {
    return core::internal::isSafeToken(token) && core::internal::isSafeToken(streamToken);
}

bool isSuccess(const PelmarVideos::Response& response) {
    return response && response->statusCode() >= 200 && response->statusCode() < 300;
}

}  // namespace

std::shared_ptr<PelmarVideos> PelmarVideos::create(
        Pelmar& application, std::shared_ptr<PelmarUploadingHandler> handler) {
    return std::make_shared<PelmarVideos>(Private{}, application, std::move(handler));
}

PelmarVideos::PelmarVideos(Private,
                           Pelmar& application,
                           std::shared_ptr<PelmarUploadingHandler> handler)
    : application_(std::make_unique<core::internal::FacadeLink>(application)),
      handler_(std::move(handler)) {}

PelmarVideos::~PelmarVideos() = default;

void PelmarVideos::detachApplication() {
    application_->cut();
    std::unique_ptr<watch::FolderWatcher> watcher;
    {
        MutexLock lock(mutex_);
        watcher = std::move(watcher_);
    }
    // Destroyed outside the lock: it waits for its thread.
}

std::shared_ptr<PelmarConnect> PelmarVideos::connect() const {
    return application_->with([](Pelmar& facade) { return facade.connect(); }).value_or(nullptr);
}

std::string PelmarVideos::getVideoUrl(const std::string& token) const {
    return handler_->getPath(Media_Type::Video, token);
}

std::string PelmarVideos::getImageUrl(const std::string& token) const {
    if (!core::internal::isSafeToken(token)) {
        return {};
    }
    return application_
            ->with([&token](Pelmar& facade) {
                return facade.config().cdnAPIUrl() + "/v1/applications/" + facade.getAppToken()
                       + "/videos/" + token + "/image";
            })
            .value_or(std::string());
}

void PelmarVideos::index(std::optional<Json> data, Handler::ListCallback callback) {
    handler_->index(Media_Type::Video, std::move(data), onMain(std::move(callback)));
}

void PelmarVideos::get(std::string token,
                       std::optional<Json> data,
                       Handler::ModelCallback callback) {
    handler_->get(Media_Type::Video, std::move(token), std::move(data),
                  onMain(std::move(callback)));
}

void PelmarVideos::create(std::string path,
                          std::optional<Json> data,
                          Handler::AnswerCallback callback,
                          Handler::ProgressCallback progress,
                          Handler::AnswerCallback confirmCallback) {
    handler_->upload(Media_Type::Video, std::move(path), std::move(data),
                     onMain(std::move(callback)), onMain(std::move(progress)),
                     onMain(std::move(confirmCallback)));
}

void PelmarVideos::update(std::string token,
                          std::optional<Json> data,
                          Handler::UpdateCallback callback) {
    handler_->update(Media_Type::Video, std::move(token), "", std::move(data),
                     onMain(std::move(callback)));
}

void PelmarVideos::destroy(std::string token,
                           std::string streamToken,
                           Handler::AnswerCallback callback) {
    handler_->deleteResource(Media_Type::Video, std::move(token), std::move(streamToken),
                             onMain(std::move(callback)));
}

void PelmarVideos::confirm(std::string token,
                           std::string streamToken,
                           std::optional<Json> data,
                           Handler::AnswerCallback callback) {
    handler_->confirm(Media_Type::Video, std::move(token), std::move(streamToken), std::move(data),
                      onMain(std::move(callback)));
}

void PelmarVideos::download(std::string token, Handler::DownloadCallback callback) {
    handler_->download(Media_Type::Video, std::move(token), std::move(callback));
}

PelmarVideos::Image PelmarVideos::cachedImage(const std::string& key) const {
    MutexLock lock(mutex_);
    const auto it = thumbCache_.find(key);
    return it == thumbCache_.end() ? nullptr : it->second;
}

void PelmarVideos::cacheImage(const std::string& key, Image image) {
    MutexLock lock(mutex_);
    if (thumbCache_.insert_or_assign(key, std::move(image)).second) {
        thumbOrder_.push_back(key);
    }
    while (thumbCache_.size() > kThumbCacheCapacity && !thumbOrder_.empty()) {
        thumbCache_.erase(thumbOrder_.front());
        thumbOrder_.pop_front();
    }
}

void PelmarVideos::enforceImageForVideo(const std::string& token, Image image) {
    cacheImage(token, std::move(image));
}

void PelmarVideos::getImage(const std::string& token,
                            std::optional<Json> params,
                            ImageCallback callback) {
    if (auto image = cachedImage(token)) {
        dispatch::Queue::main()->async([image, callback = std::move(callback)] {
            if (callback) {
                callback(image, nullptr, std::nullopt);
            }
        });
        return;
    }
    auto client = connect();
    if (!client || !core::internal::isSafeToken(token)) {
        const Error error = client ? invalidTokenError(token)
                                   : Error{std::string(kUploadErrorDomain), kUploadErrorNoService,
                                           "the SDK facade has ended"};
        dispatch::Queue::main()->async([error, callback = std::move(callback)] {
            if (callback) {
                callback(nullptr, nullptr, error);
            }
        });
        return;
    }
    client->getWithPath(handler_->getApiUrl(Media_Type::Video, "/" + token + "/image"),
                        std::move(params),
                        [weak = weak_from_this(), token, callback = std::move(callback)](
                                std::optional<std::string> bytes, Response response,
                                std::optional<Error> error) {
                            Image image;
                            if (bytes && !error) {
                                image = ui::Image::fromBitmap(image::PictureCodec::decode(*bytes));
                                auto self = weak.lock();
                                if (image && self) {
                                    self->cacheImage(token, image);
                                }
                            }
                            dispatch::Queue::main()->async([image, response, error, callback] {
                                if (callback) {
                                    callback(image, response, error);
                                }
                            });
                        });
}

void PelmarVideos::getImage(const std::string& path, LocalImageCallback callback) {
    if (auto image = cachedImage(path)) {
        dispatch::Queue::main()->async([image, callback = std::move(callback)] {
            if (callback) {
                callback(image, std::nullopt);
            }
        });
        return;
    }
    av::ImageGenerator generator(Utils::localPath(path).value_or(path));
    generator.appliesPreferredTrackTransform = true;
    generator.maximumWidth = kThumbnailMaxWidth;
    generator.maximumHeight = kThumbnailMaxHeight;
    generator.generateImageAsynchronously(
            0, [weak = weak_from_this(), path, callback = std::move(callback)](
                       av::ImageGenerator::Image bitmap, std::optional<Error> error) {
                Image image = ui::Image::fromBitmap(std::move(bitmap));
                if (image && !error) {
                    if (auto self = weak.lock()) {
                        self->cacheImage(path, image);
                    }
                }
                dispatch::Queue::main()->async([image, error, callback] {
                    if (callback) {
                        callback(image, error);
                    }
                });
            });
}

PelmarVideos::Task PelmarVideos::refuse(const Handler::AnswerCallback& callback,
                                        const std::string& token) {
    net::URLSession::shared()->delegateQueue()->async([callback, error = invalidTokenError(token)] {
        if (callback) {
            callback(std::nullopt, nullptr, error);
        }
    });
    return nullptr;
}

PelmarVideos::Task PelmarVideos::getDefaultStream(std::string token,
                                                  std::optional<Json> data,
                                                  StreamTokenCallback callback) {
    auto client = connect();
    if (!client || !tokensSafe(token)) {
        return refuse(
                [callback](std::optional<Json>, Response, std::optional<Error> error) {
                    if (callback) {
                        callback(std::nullopt, nullptr, std::move(error));
                    }
                },
                token);
    }
    return client->getJsonWithPath(
            "/videos/" + token, std::move(data),
            [callback = std::move(callback)](std::optional<Json> json, Response response,
                                             std::optional<Error> error) {
                std::optional<std::string> stream;
                if (!error && json && json->is_object()) {
                    const auto it = json->find("default_stream");
                    if (it != json->end() && it->is_object() && it->contains("token")
                        && (*it)["token"].is_string()) {
                        stream = (*it)["token"].get<std::string>();
                    }
                }
                if (callback) {
                    callback(std::move(stream), std::move(response), std::move(error));
                }
            });
}

PelmarVideos::Task PelmarVideos::getOriginalStreamDescriptionForVideo(
        std::string token, std::optional<Json> data, Handler::AnswerCallback callback) {
    auto client = connect();
    if (!client || !tokensSafe(token)) {
        return refuse(callback, token);
    }
    return client->getJsonWithPath(
            "/videos/" + token, std::move(data),
            [callback = std::move(callback)](std::optional<Json> json, Response response,
                                             std::optional<Error> error) {
                std::optional<Json> original;
                if (!error && json && json->is_object()) {
                    const auto it = json->find("original_stream");
                    if (it != json->end() && it->is_object()) {
                        original = *it;
                    }
                }
                if (callback) {
                    callback(std::move(original), std::move(response), std::move(error));
                }
            });
}

PelmarVideos::Task PelmarVideos::createStream(std::string token,
                                              std::optional<Json> data,
                                              Handler::AnswerCallback callback) {
    auto client = connect();
    if (!client || !tokensSafe(token)) {
        return refuse(callback, token);
    }
    application_->with(
            [&token](Pelmar& facade) { facade.log("creating stream for video " + token); });
    return client->postJsonWithPath("/videos/" + token + "/streams?create_stream=true",
                                    std::move(data), std::move(callback));
}

PelmarVideos::Task PelmarVideos::createEmptyVideo(std::optional<Json> data,
                                                  Handler::AnswerCallback callback) {
    auto client = connect();
    if (!client) {
        return refuse(callback, "");
    }
    return client->postJsonWithPath("/videos?create_stream=true", std::move(data),
                                    std::move(callback));
}

PelmarVideos::Task PelmarVideos::recorderSubmit(std::string token,
                                                std::string streamToken,
                                                std::optional<Json> data,
                                                Handler::AnswerCallback callback) {
    auto client = connect();
    if (!client || !tokensSafe(token, streamToken)) {
        return refuse(callback, token + " " + streamToken);
    }
    return client->postJsonWithPath(
            "/videos/" + token + "/streams/" + streamToken + "/recordersubmit", std::move(data),
            std::move(callback));
}

PelmarVideos::Task PelmarVideos::attachCover(std::string token,
                                             std::string streamToken,
                                             Image cover,
                                             std::optional<Json> data,
                                             RawCallback callback) {
    if (!cover) {
        if (callback) {
            callback(std::nullopt, nullptr, std::nullopt);
        }
        return nullptr;
    }
    auto client = connect();
    const auto asAnswer = [callback](std::optional<Json>, Response, std::optional<Error> error) {
        if (callback) {
            callback(std::nullopt, nullptr, std::move(error));
        }
    };
    if (!client || !tokensSafe(token, streamToken)) {
        return refuse(asAnswer, token + " " + streamToken);
    }
    auto [jpeg, encodeError] = coverJPEG(*cover);
    if (!jpeg) {
        net::URLSession::shared()->delegateQueue()->async([callback, error = *encodeError] {
            if (callback) {
                callback(std::nullopt, nullptr, error);
            }
        });
        return nullptr;
    }
    std::string path = "/videos/" + token + "/streams/" + streamToken + "/imageattach";
    return client->postRawDataWithPath(
            path, std::move(*jpeg), std::move(data),
            [weak = weak_from_this(), token, streamToken, path, callback = std::move(callback)](
                    std::optional<std::string> bytes, Response response,
                    std::optional<Error> error) {
                if (auto self = weak.lock()) {
                    // The answer's URL carries the application and session tokens, and its body
                    // may hold more: the line names the path under the application and the
                    // answer's size only.
                    const std::string line =
                            "cover for video " + token + " stream " + streamToken
                            + " set with error: " + (error ? error->description() : "nil")
                            + ", response: "
                            + (response ? std::to_string(response->statusCode()) + " " + path
                                        : "nil")
                            + ", data: " + std::to_string(bytes ? bytes->size() : 0) + " bytes";
                    self->application_->with([&line](Pelmar& facade) { facade.log(line); });
                }
                if (callback) {
                    callback(std::move(bytes), std::move(response), std::move(error));
                }
            });
}

void PelmarVideos::startScreenRecorder(const std::string& appGroup,
                                       const std::optional<std::string>& preferredExtension) {
    {
        MutexLock lock(mutex_);
        appGroup_ = appGroup;
        presentedItemURL_ = Utils::getSharedScreenRecordingDirectory(appGroup);
    }
    setupFileWatcher();
    if (!ui::Device::current().isSystemVersionAtLeast(kBroadcastPickerSystemVersion)) {
        return;
    }
    auto parent =
            application_->with([](Pelmar& facade) { return facade.getParentViewController(); })
                    .value_or(nullptr);
    if (!parent) {
        return;  // nothing on screen to open the broadcast sheet over
    }
    showBroadcastPicker(*parent->view(), preferredExtension.value_or(""));
}

void PelmarVideos::showBroadcastPicker(ui::View& parentView,
                                       const std::string& preferredExtension) {
    const ui::Rect bounds = parentView.bounds();
    auto picker = replaykit::SystemBroadcastPickerView::make({0, 0, bounds.width, bounds.height});
    picker->setTranslatesAutoresizingMaskIntoConstraints(false);
    picker->setPreferredExtension(preferredExtension);
    picker->layer()->setBackgroundColor(ui::Color::clear());
    const auto& subviews = picker->subviews();
    if (!subviews.empty() && std::dynamic_pointer_cast<ui::Button>(subviews.front())) {
        picker->setButtonImageTintColor(ui::Color::clear());
    }
    parentView.addSubview(picker);
    // Pressing the system's button opens its broadcast sheet; the button itself is never shown.
    for (const auto& subview : std::vector<std::shared_ptr<ui::View>>(subviews)) {
        if (auto button = std::dynamic_pointer_cast<ui::Button>(subview)) {
            for (auto event : {ui::ControlEvent::TouchDown, ui::ControlEvent::TouchUpInside,
                               ui::ControlEvent::TouchUpOutside, ui::ControlEvent::TouchCancel}) {
                button->sendActions(event);
            }
        }
    }
    picker->removeFromSuperview();
}

void PelmarVideos::setupFileWatcher() {
    std::optional<std::filesystem::path> folder;
    {
        MutexLock lock(mutex_);
        if (watcher_ || !appGroup_) {
            return;
        }
        folder = Utils::getSharedScreenRecordingDirectory(*appGroup_);
    }
    if (!folder) {
        foundation::Console::print("Failed to get shared directory");
        return;
    }
    if (!foundation::FileManager::fileExists(*folder)) {
        foundation::Console::print("Shared directory doesn't exist");
        return;
    }
    auto watcher = watch::FolderWatcher::start(*folder, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->presentedItemDidChange();
        }
    });
    if (!watcher) {
        foundation::Console::print("Shared directory doesn't exist");
        return;
    }
    MutexLock lock(mutex_);
    if (!watcher_) {
        watcher_ = std::move(watcher);
    }
}

void PelmarVideos::presentedItemDidChange() {
    {
        MutexLock lock(mutex_);
        if (!presentedItemURL_ || !watcher_) {
            return;
        }
    }
    processNewScreenRecordings();
}

void PelmarVideos::setAppGroup(const std::string& appGroup) {
    {
        MutexLock lock(mutex_);
        appGroup_ = appGroup;
    }
    processNewScreenRecordings();
}

void PelmarVideos::processNewScreenRecordings() {
    std::optional<std::string> group;
    {
        MutexLock lock(mutex_);
        group = appGroup_;
    }
    if (!group) {
        return;
    }
    const auto folder = Utils::getSharedScreenRecordingDirectory(*group);
    if (!folder) {
        foundation::Console::print("Failed to get shared directory");
        return;
    }
    const auto documents = Utils::getDocumentsDirectory();
    for (const auto& entry : foundation::FileManager::contentsOfDirectory(*folder)) {
        const auto moved = Utils::moveFile(entry, documents);
        if (!moved) {
            foundation::Console::print("Failed to move the file to the documents folder");
            continue;
        }
        const std::string url = foundation::fileURLFromPath(*moved);
        dispatch::Queue::main()->async([weak = weak_from_this(), url, moved = *moved] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            auto facade = self->application_
                                  ->with([](Pelmar& application) {
                                      return application.weak_from_this().lock();
                                  })
                                  .value_or(nullptr);
            if (!facade) {
                return;
            }
            facade->uploadFromPath(
                    url, Json::object(), [](std::optional<Json>, Response, std::optional<Error>) {},
                    [](int64_t, int64_t) {},
                    [moved](std::optional<Json>, Response response, std::optional<Error> error) {
                        // Only a confirmed upload lets the recording go.
                        if (!error && isSuccess(response)) {
                            Utils::removeFile(moved);
                        }
                    });
        });
    }
}

bool PelmarVideos::fileWatcherIsSetUp() const {
    MutexLock lock(mutex_);
    return watcher_ != nullptr;
}

std::optional<std::filesystem::path> PelmarVideos::presentedItemURL() const {
    MutexLock lock(mutex_);
    return presentedItemURL_;
}

}  // namespace pelmar
