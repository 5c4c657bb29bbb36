#include "pelmar/core/Pelmar.h"

#include <cctype>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "pelmar/core/PelmarAudios.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarConstants.h"
#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarImages.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/core/Utils.h"
#include "pelmar/core/internal/UploadRequests.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/foundation/UserDefaults.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar {

using core::internal::uploadError;

struct Pelmar::Options {
    std::shared_ptr<QRCodeReaderConfig> qrCodeReaderConfig = std::make_shared<QRCodeReaderConfig>();
    std::shared_ptr<VideoPlayerConfig> videoPlayerConfig = std::make_shared<VideoPlayerConfig>();
    std::shared_ptr<VideoRecorderConfig> videoRecorderConfig =
            std::make_shared<VideoRecorderConfig>();
    std::shared_ptr<FileSelectorConfig> fileSelectorConfig = std::make_shared<FileSelectorConfig>();

    Json recorderCacheConfig = Json::object();
    Json recorderInterfaceConfig = Json::object();
    Json uploadingConfig = Json::object();
    Json extraArgsForRecorder = Json::object();
    Json themeArgsForRecorder = Json::object();
    Json extraArgsForPlayer = Json::object();
    Json themeArgsForPlayer = Json::object();
    Json playerCacheConfig = Json::object();

    int64_t maxRecordingDuration = 600;
    int64_t videoWidth = 0;
    int64_t videoHeight = 0;
    int64_t videoBitrate = 0;
    int64_t audioSampleRate = 44100;
    int64_t audioBitrate = 0;
    std::string adsURL;
};

namespace {

constexpr std::string_view kReportSource = "pelmar.mobile.sdk";
constexpr std::string_view kRearCameraText = "REAR_CAMERA";
constexpr std::string_view kAppGroupDefaultsKey = "AppGroup";

// The media kind a path goes to, by its lower-cased extension; none for any other.
std::optional<Media_Type> routeOf(const std::string& path) {
    const auto local = Utils::localPath(path);
    if (!local) {
        return std::nullopt;
    }
    std::string extension = std::filesystem::path(*local).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == ".mp4" || extension == ".mov" || extension == ".avi") {
        return Media_Type::Video;
    }
    if (extension == ".mp3" || extension == ".wav" || extension == ".aac") {
        return Media_Type::Audio;
    }
    if (extension == ".png" || extension == ".jpg" || extension == ".bmp" || extension == ".jpeg") {
        return Media_Type::Image;
    }
    return std::nullopt;
}

// Lenient reading of one option key: the value counts only when the dictionary is a non-empty
// object holding the key with the wanted JSON type.
const Json* optionValue(const std::optional<Json>& dict, std::string_view key) {
    if (!dict || !dict->is_object() || dict->empty()) {
        return nullptr;
    }
    auto it = dict->find(std::string(key));
    return it == dict->end() ? nullptr : &*it;
}

bool readBool(const std::optional<Json>& dict, std::string_view key, bool fallback) {
    const Json* value = optionValue(dict, key);
    return value != nullptr && value->is_boolean() ? value->get<bool>() : fallback;
}

// Integers only: JSON floats, Booleans and numbers beyond 64 bits fall back.
std::optional<int64_t> readOptionalInt(const std::optional<Json>& dict, std::string_view key) {
    const Json* value = optionValue(dict, key);
    if (value == nullptr || !value->is_number_integer()) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()
        && value->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return std::nullopt;
    }
    return value->get<int64_t>();
}

int64_t readInt(const std::optional<Json>& dict, std::string_view key, int64_t fallback) {
    return readOptionalInt(dict, key).value_or(fallback);
}

std::optional<Json> readObject(const std::optional<Json>& dict, std::string_view key) {
    const Json* value = optionValue(dict, key);
    if (value == nullptr || !value->is_object()) {
        return std::nullopt;
    }
    return *value;
}

std::shared_ptr<PlayerStyle> makePlayerStyle(const std::optional<Json>& dict) {
    return std::make_shared<PlayerStyle>(
            readInt(dict, CONTROLLERS_STYLE,
                    static_cast<int64_t>(PlayerStyle::Pelmar_Player_Controller_Style::DEFAULT)),
            readOptionalInt(dict, CONTROLLERS_TEXT_COLOR_STYLE),
            readOptionalInt(dict, CONTROLLERS_UNPLAYED_COLOR_STYLE),
            readOptionalInt(dict, CONTROLLERS_PLAYED_COLOR_STYLE),
            readOptionalInt(dict, CONTROLLERS_TINT_COLOR_STYLE),
            readOptionalInt(dict, "muteOffImageDrawable"),
            readOptionalInt(dict, "muteOnImageDrawable"));
}

// The identifiers for the media words or `Media_Type_Int` values of a "media_type" list, always in
// the order movie, video, audio, image. A value that is not a usable list gives the defaults.
std::vector<std::string> mediaTypesFromList(const Json& list) {
    if (!list.is_array() || list.empty()) {
        return FileSelectorConfig::defaultMediaTypes();
    }
    bool video = false;
    bool audio = false;
    bool image = false;
    if (list.front().is_string()) {
        for (const Json& element : list) {
            if (!element.is_string()) {
                return FileSelectorConfig::defaultMediaTypes();
            }
            const auto& word = element.get_ref<const std::string&>();
            video = video || word == rawValue(Media_Type::Video);
            audio = audio || word == rawValue(Media_Type::Audio);
            image = image || word == rawValue(Media_Type::Image);
        }
    } else if (list.front().is_number_integer()) {
        for (const Json& element : list) {
            if (!element.is_number_integer()) {
                return FileSelectorConfig::defaultMediaTypes();
            }
            const auto kind = fromRaw<Media_Type_Int>(element.get<int64_t>());
            video = video || kind == Media_Type_Int::Video;
            audio = audio || kind == Media_Type_Int::Audio;
            image = image || kind == Media_Type_Int::Image;
        }
    } else {
        return FileSelectorConfig::defaultMediaTypes();
    }
    std::vector<std::string> types;
    if (video) {
        types.emplace_back(kUTTypeMovie);
        types.emplace_back(kUTTypeVideo);
    }
    if (audio) {
        types.emplace_back(kUTTypeAudio);
    }
    if (image) {
        types.emplace_back(kUTTypeImage);
    }
    return types;
}

}  // namespace

Pelmar::Pelmar(std::string token)
    : config_(std::make_unique<PelmarConfig>(token)),
      token_(std::move(token)),
      options_(std::make_unique<Options>()),
      connect_(PelmarConnect::create(*this)),
      uploadingHandler_(PelmarUploadingHandler::create(*this)),
      cacheManager_(std::make_shared<PelmarCacheManager>()),
      videos_(PelmarVideos::create(*this, uploadingHandler_)),
      audios_(std::make_shared<PelmarAudios>(uploadingHandler_)),
      images_(std::make_shared<PelmarImages>(uploadingHandler_)) {
    // Recordings the broadcast extension finished while the app was not running are taken in
    // now (on this thread; their uploads start on the main queue).
    if (auto appGroup = foundation::UserDefaults::standard().string(kAppGroupDefaultsKey)) {
        videos_->setAppGroup(*appGroup);
    }
}

Pelmar::Pelmar()
    : config_(std::make_unique<PelmarConfig>("")), options_(std::make_unique<Options>()) {}

Pelmar::~Pelmar() {
    if (videos_) {
        videos_->detachApplication();
    }
    if (uploadingHandler_) {
        uploadingHandler_->detachApplication();
    }
    if (connect_) {
        // Requests still in flight may outlive the facade; they must stop reading it.
        connect_->detachApplication();
    }
}

void Pelmar::log(std::string_view item) const {
    if (enableDebugLogs.load()) {
        foundation::Log::write(item);
    }
}

void Pelmar::logError(std::string_view item) {
    foundation::Log::write(item);
    const auto seconds = static_cast<int64_t>(dispatch::clock().wallNow());
    sendErrorReport(errorReportBody(item, seconds));
}

std::string Pelmar::errorReportBody(std::string_view item, int64_t unixSeconds) {
    Json event = Json::object();
    event["message"] = std::string(item);
    event["source"] = kReportSource;
    event["lineno"] = 0;
    event["colno"] = 0;
    event["time"] = unixSeconds;
    // Invalid UTF-8 in the message is replaced rather than failing the report.
    const std::string text =
            Json::array({event}).dump(-1, ' ', false, Json::error_handler_t::replace);
    return "events=" + foundation::percentEncode(text, foundation::kUnreservedChars);
}

void Pelmar::sendErrorReport(std::string body) {
    if (connect_) {
        connect_->postRawDataWithPath(
                "/debugger", std::move(body), std::nullopt,
                [](std::optional<std::string>, PelmarConnect::Response, std::optional<Error>) {});
    }
}

void Pelmar::setToken(std::string token) {
    MutexLock lock(mutex_);
    token_ = std::move(token);
}

std::string Pelmar::getAppToken() const {
    MutexLock lock(mutex_);
    return token_;
}

void Pelmar::setClientAuthToken(std::string token) {
    MutexLock lock(mutex_);
    clientAuthToken_ = std::move(token);
}

void Pelmar::setServerAuthToken(std::string token) {
    MutexLock lock(mutex_);
    serverAuthToken_ = std::move(token);
}

std::string Pelmar::getClientAuthToken() const {
    return clientAuthToken().value_or("");
}

std::string Pelmar::getServerAuthToken() const {
    return serverAuthToken().value_or("");
}

std::optional<std::string> Pelmar::clientAuthToken() const {
    MutexLock lock(mutex_);
    return clientAuthToken_;
}

std::optional<std::string> Pelmar::serverAuthToken() const {
    MutexLock lock(mutex_);
    return serverAuthToken_;
}

#define PELMAR_DELEGATE_ACCESSORS(Type, setter, getter, member) \
    void Pelmar::setter(std::shared_ptr<Type> delegate) {       \
        MutexLock lock(mutex_);                                 \
        member = std::move(delegate);                           \
    }                                                           \
                                                                \
    std::shared_ptr<Type> Pelmar::getter() const {              \
        MutexLock lock(mutex_);                                 \
        return member;                                          \
    }

PELMAR_DELEGATE_ACCESSORS(PelmarQRScannerDelegate,
                          setQrScannerDelegate,
                          qrScannerDelegate,
                          qrScannerDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarUploadingDelegate,
                          setUploadingDelegate,
                          uploadingDelegate,
                          uploadingDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarSensorDelegate, setSensorDelegate, sensorDelegate, sensorDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarFileSelectorDelegate,
                          setFileSelectorDelegate,
                          fileSelectorDelegate,
                          fileSelectorDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarRecorderDelegate,
                          setRecorderDelegate,
                          recorderDelegate,
                          recorderDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarPlayerDelegate, setPlayerDelegate, playerDelegate, playerDelegate_)
PELMAR_DELEGATE_ACCESSORS(PelmarScreenRecorderDelegate,
                          setScreenRecorderDelegate,
                          screenRecorderDelegate,
                          screenRecorderDelegate_)

#undef PELMAR_DELEGATE_ACCESSORS

void Pelmar::setHardwarePermissionDelegate(
        std::shared_ptr<PelmarHardwarePermissionDelegate> delegate) {
    {
        MutexLock lock(mutex_);
        hardwarePermissionDelegate_ = std::move(delegate);
    }
    runHardwarePermissionChecks();
}

std::shared_ptr<PelmarHardwarePermissionDelegate> Pelmar::hardwarePermissionDelegate() const {
    MutexLock lock(mutex_);
    return hardwarePermissionDelegate_;
}

void Pelmar::setQrScannerConfig(const std::optional<Json>& dict) {
    auto config = std::make_shared<QRCodeReaderConfig>(
            readBool(dict, CLOSE_AFTER_SUCCESS_FUL_SCAN, true));
    MutexLock lock(mutex_);
    options_->qrCodeReaderConfig = std::move(config);
}

std::shared_ptr<QRCodeReaderConfig> Pelmar::getQrScannerConfig() const {
    MutexLock lock(mutex_);
    return options_->qrCodeReaderConfig;
}

void Pelmar::setVideoRecorderConfig(const std::optional<Json>& dict) {
    auto config = std::make_shared<VideoRecorderConfig>(
            readBool(dict, IS_LIFE_STREAMING, false), readBool(dict, BLUR_MODE, false),
            readBool(dict, SHOULD_SEND_IMMEDIATELY, false),
            readBool(dict, SHOULD_DISABLE_CAMERA_SWITCH, false),
            readBool(dict, SHOULD_ENABLE_COVER_SHOT, false),
            readBool(dict, SHOULD_AUTO_START_RECORDING, false),
            readBool(dict, SHOULD_SHOW_FACE_OUTLINE, false), readInt(dict, FACING, 0),
            readInt(dict, STERT_DELAY, 0), readInt(dict, VIDEO_QUALITY, 1),
            readInt(dict, MAX_DURATION, 0));
    MutexLock lock(mutex_);
    options_->videoRecorderConfig = std::move(config);
}

std::shared_ptr<VideoRecorderConfig> Pelmar::getVideoRecorderConfig() const {
    MutexLock lock(mutex_);
    return options_->videoRecorderConfig;
}

void Pelmar::setVideoPlayerConfig(const std::optional<Json>& dict) {
    std::shared_ptr<PlayerStyle> style = PlayerStyle::defaultStyle();
    const bool subtitles = readBool(dict, SHOULD_SHOW_SUBTITLES, false);
    const bool muted = readBool(dict, IS_MUTED, false);
    // The style goes into the new options only: an object fetched earlier keeps its style.
    if (auto styleDict = readObject(dict, VIDEO_PLAYER_STYLE)) {
        style = makePlayerStyle(styleDict);
    }
    auto config = std::make_shared<VideoPlayerConfig>(subtitles, muted, std::move(style));
    MutexLock lock(mutex_);
    options_->videoPlayerConfig = std::move(config);
}

std::shared_ptr<VideoPlayerConfig> Pelmar::getVideoPlayerConfig() const {
    MutexLock lock(mutex_);
    return options_->videoPlayerConfig;
}

std::shared_ptr<PlayerStyle> Pelmar::setVideoPlayerStyle(const std::optional<Json>& dict) {
    auto stored = makePlayerStyle(dict);
    auto returned = std::make_shared<PlayerStyle>(*stored);
    MutexLock lock(mutex_);
    options_->videoPlayerConfig->playerStyle = std::move(stored);
    return returned;
}

std::shared_ptr<PlayerStyle> Pelmar::getVideoPlayerStyle() const {
    MutexLock lock(mutex_);
    return options_->videoPlayerConfig->playerStyle;
}

void Pelmar::setFileSelectorConfig(const std::optional<Json>& dict) {
    std::vector<std::string> types;
    if (dict) {
        const Json* list = optionValue(dict, MEDIA_TYPE);
        types = list != nullptr ? mediaTypesFromList(*list)
                                : FileSelectorConfig::defaultMediaTypes();
    }
    auto config = std::make_shared<FileSelectorConfig>(std::move(types));
    MutexLock lock(mutex_);
    options_->fileSelectorConfig = std::move(config);
}

std::shared_ptr<FileSelectorConfig> Pelmar::getFileSelectorConfig() const {
    MutexLock lock(mutex_);
    return options_->fileSelectorConfig;
}

void Pelmar::setLiveStreamingEnabled(bool enabled) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->isLiveStreaming = enabled;
}

void Pelmar::setAutostartRecordingAfter(int64_t seconds) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->startDelay = seconds;
}

void Pelmar::setStartDelay(int64_t seconds) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->startDelay = seconds;
}

void Pelmar::setCoverSelectorEnabled(bool enabled) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->shouldEnableCoverShot = enabled;
}

void Pelmar::setCameraSwitchEnabled(bool enabled) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->shouldDisableCameraSwitch = enabled;
}

void Pelmar::setSendImmediately(bool enabled) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->shouldSendImmediately = enabled;
}

void Pelmar::setQuality(int64_t quality) {
    const int64_t stored = fromRaw<RecordingQuality>(quality).has_value() ? quality : 1;
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->videoQuality = stored;
}

void Pelmar::setCamera(std::string_view camera) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->facing = camera == kRearCameraText ? 0 : 1;
}

void Pelmar::setBlurMode(bool enabled) {
    MutexLock lock(mutex_);
    options_->videoRecorderConfig->blurMode = enabled;
}

#define PELMAR_DICTIONARY_ACCESSORS(setter, getter) \
    void Pelmar::setter(Json dict) {                \
        MutexLock lock(mutex_);                     \
        options_->getter = std::move(dict);         \
    }                                               \
                                                    \
    Json Pelmar::getter() const {                   \
        MutexLock lock(mutex_);                     \
        return options_->getter;                    \
    }

PELMAR_DICTIONARY_ACCESSORS(setRecorderCacheConfig, recorderCacheConfig)
PELMAR_DICTIONARY_ACCESSORS(setRecorderInterfaceConfig, recorderInterfaceConfig)
PELMAR_DICTIONARY_ACCESSORS(setUploadingConfig, uploadingConfig)
PELMAR_DICTIONARY_ACCESSORS(setExtraArgsForRecorder, extraArgsForRecorder)
PELMAR_DICTIONARY_ACCESSORS(setThemeArgsForRecorder, themeArgsForRecorder)
PELMAR_DICTIONARY_ACCESSORS(setExtraArgsForPlayer, extraArgsForPlayer)
PELMAR_DICTIONARY_ACCESSORS(setThemeArgsForPlayer, themeArgsForPlayer)
PELMAR_DICTIONARY_ACCESSORS(setPlayerCacheConfig, playerCacheConfig)

#undef PELMAR_DICTIONARY_ACCESSORS

void Pelmar::setMaxRecordingDuration(int64_t seconds) {
    MutexLock lock(mutex_);
    options_->maxRecordingDuration = seconds;
}

void Pelmar::setVideoWidth(int64_t width) {
    MutexLock lock(mutex_);
    options_->videoWidth = width;
}

void Pelmar::setVideoHeight(int64_t height) {
    MutexLock lock(mutex_);
    options_->videoHeight = height;
}

void Pelmar::setVideoBitrate(int64_t bitrate) {
    MutexLock lock(mutex_);
    options_->videoBitrate = bitrate;
}

void Pelmar::setAudioSampleRate(int64_t rate) {
    MutexLock lock(mutex_);
    options_->audioSampleRate = rate;
}

void Pelmar::setAudioBitrate(int64_t bitrate) {
    MutexLock lock(mutex_);
    options_->audioBitrate = bitrate;
}

void Pelmar::setAdsURL(std::string url) {
    MutexLock lock(mutex_);
    options_->adsURL = std::move(url);
}

std::string Pelmar::adsURL() const {
    MutexLock lock(mutex_);
    return options_->adsURL;
}

std::shared_ptr<ui::ViewController> Pelmar::getParentViewController() const {
    auto window = ui::Application::shared().keyWindow();
    if (!window) {
        return nullptr;
    }
    std::shared_ptr<ui::ViewController> top = window->rootViewController();
    while (top) {
        auto presented = top->presentedViewController();
        if (!presented || presented == top) {
            break;
        }
        top = std::move(presented);
    }
    return top;
}

void Pelmar::uploadFromPath(const std::string& path,
                            std::optional<Json> data,
                            AnswerCallback callback,
                            ProgressCallback progress,
                            AnswerCallback confirmCallback) {
    const auto route = routeOf(path);
    if (!route || !videos_) {
        Error error =
                !videos_ ? uploadError(kUploadErrorNoService,
                                       "this facade has no upload engine (made "
                                       "without an application token)")
                : !Utils::localPath(path)
                        ? uploadError(kUploadErrorUnusablePath, "no file path in \"" + path + "\"")
                        : uploadError(kUploadErrorUnknownMediaKind,
                                      "no media kind for the extension of \"" + path + "\"");
        // Told as the upload engine tells a refused file: the closures end on a later turn.
        dispatch::Queue::main()->async([weak = weak_from_this(), path, error = std::move(error),
                                        callback = std::move(callback),
                                        confirmCallback = std::move(confirmCallback)] {
            if (callback) {
                callback(std::nullopt, nullptr, error);
            }
            if (auto self = weak.lock()) {
                if (auto delegate = self->uploadingDelegate()) {
                    delegate->failedToUpload(path);
                }
            }
            if (confirmCallback) {
                confirmCallback(std::nullopt, nullptr, error);
            }
        });
        return;
    }
    switch (*route) {
        case Media_Type::Video:
            videos_->create(path, std::move(data), std::move(callback), std::move(progress),
                            std::move(confirmCallback));
            break;
        case Media_Type::Audio:
            audios_->create(path, std::move(data), std::move(callback), std::move(progress),
                            std::move(confirmCallback));
            break;
        case Media_Type::Image:
            images_->create(path, std::move(data), std::move(callback), std::move(progress),
                            std::move(confirmCallback));
            break;
    }
}

void Pelmar::uploadFromPaths(std::vector<std::string> paths,
                             std::optional<Json> data,
                             AnswerCallback callback,
                             ProgressCallback progress,
                             AnswerCallback confirmCallback) {
    if (paths.empty()) {
        return;
    }
    const std::string first = paths.front();
    std::vector<std::string> rest(paths.begin() + 1, paths.end());
    std::weak_ptr<Pelmar> weak = weak_from_this();
    auto next = [weak, rest, data, callback, progress, confirmCallback] {
        if (auto self = weak.lock()) {
            self->uploadFromPaths(rest, data, callback, progress, confirmCallback);
        }
    };
    uploadFromPath(
            first, data,
            [callback](std::optional<Json> json,
                       std::shared_ptr<const net::HTTPURLResponse> response,
                       std::optional<Error> error) {
                dispatch::Queue::main()->async([callback, json, response, error] {
                    if (callback) {
                        callback(json, response, error);
                    }
                });
            },
            [progress](int64_t sent, int64_t expected) {
                dispatch::Queue::main()->async([progress, sent, expected] {
                    if (progress) {
                        progress(sent, expected);
                    }
                });
            },
            [confirmCallback, next](std::optional<Json> json,
                                    std::shared_ptr<const net::HTTPURLResponse> response,
                                    std::optional<Error> error) {
                dispatch::Queue::main()->async([confirmCallback, next, json, response, error] {
                    if (confirmCallback) {
                        confirmCallback(json, response, error);
                    }
                    next();
                });
            });
}

void Pelmar::uploadFilesFromPath(size_t index,
                                 std::vector<std::string> mediaTypes,
                                 std::vector<std::string> paths) {
    if (index >= mediaTypes.size() || index >= paths.size()) {
        return;
    }
    if (!uploadingHandler_) {
        // A facade made without an application token has no upload engine.
        log("uploadFromFileSelector: no upload engine; nothing uploaded");
        return;
    }
    const Media_Type type = mediaTypes[index] == rawValue(Media_Type::Image) ? Media_Type::Image
                                                                             : Media_Type::Video;
    const std::string path = paths[index];
    std::weak_ptr<Pelmar> weak = weak_from_this();
    uploadingHandler_->upload(
            type, path, uploadingConfig(), [](std::optional<Json>, auto, std::optional<Error>) {},
            [](int64_t, int64_t) {},
            [weak, index, mediaTypes = std::move(mediaTypes), paths = std::move(paths)](
                    std::optional<Json>, auto, std::optional<Error>) {
                if (auto self = weak.lock()) {
                    self->uploadFilesFromPath(index + 1, mediaTypes, paths);
                }
            });
}

std::filesystem::path Pelmar::documentsFileNotInUpload(std::string_view stem,
                                                       std::string_view extension) const {
    const auto documents = foundation::Sandbox::documentsDirectory();
    auto path = documents / (std::string(stem) + std::string(extension));
    if (!uploadingHandler_) {
        return path;
    }
    for (int n = 1; uploadingHandler_->isReading(path.string()); ++n) {
        path = documents / (std::string(stem) + "-" + std::to_string(n) + std::string(extension));
    }
    return path;
}

std::pair<std::filesystem::path, std::optional<Error>> Pelmar::copyToDocumentsMovie(
        const std::string& path) const {
    const auto destination = documentsFileNotInUpload("video", ".mp4");
    std::error_code ec;
    // Showing the copy itself again: removing it first would lose the only file.
    if (std::filesystem::equivalent(path, destination, ec)) {
        return {destination, std::nullopt};
    }
    (void)foundation::FileManager::removeItem(destination);
    return {destination, foundation::FileManager::copyItem(path, destination)};
}

void Pelmar::cancelUpload(const std::optional<std::string>& path, bool deleteFile) {
    if (auto delegate = uploadingDelegate()) {
        delegate->cancelUpload(path.value_or(""), deleteFile);
    }
    if (uploadingHandler_) {
        uploadingHandler_->cancelUpload(path, deleteFile);
    }
}

void Pelmar::startScreenRecorder(const std::string& appGroup,
                                 const std::optional<std::string>& preferredExtension) {
    auto& defaults = foundation::UserDefaults::standard();
    defaults.set(kAppGroupDefaultsKey, appGroup);
    defaults.synchronize();
    if (!ui::Device::current().isSystemVersionAtLeast(
                PelmarVideos::kBroadcastPickerSystemVersion)) {
        return;  // older systems only remember the group
    }
    if (videos_) {
        videos_->startScreenRecorder(appGroup, preferredExtension);
    }
}

}  // namespace pelmar
