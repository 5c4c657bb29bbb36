#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pelmar/core/FileInfoData.h"
#include "pelmar/core/FileSelectorConfig.h"
#include "pelmar/core/PelmarConfig.h"
#include "pelmar/core/PelmarFileSelectorDelegate.h"
#include "pelmar/core/PelmarHardwarePermissionDelegate.h"
#include "pelmar/core/PelmarPlayerDelegate.h"
#include "pelmar/core/PelmarQRScannerDelegate.h"
#include "pelmar/core/PelmarRecorderDelegate.h"
#include "pelmar/core/PelmarScreenRecorderDelegate.h"
#include "pelmar/core/PelmarSensorDelegate.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/core/PlayerStyle.h"
#include "pelmar/core/QRCodeReaderConfig.h"
#include "pelmar/core/VideoPlayerConfig.h"
#include "pelmar/core/VideoRecorderConfig.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/messageui/MailComposeViewControllerDelegate.h"
#include "pelmar/platform/sync/Mutex.h"

// Pelmar: the SDK's facade. The host app creates one with its application token and keeps it; every
// screen and service object reaches the rest of the SDK through it. It holds the tokens, the
// service endpoints, the option objects and dictionaries, and the host app's eight delegates.
// Ownership: create with std::make_shared (screens and callbacks hold it by shared_ptr or
//     weak_ptr); neither copyable nor movable. It owns its service objects, which refer back to it
//     without owning it. Delegates and option objects are held strongly.
// Threads: thread-safe: every accessor and setter may be called from any thread (one internal
//     mutex, never held while calling out). Option objects handed out by the getters are shared and
//     thread-compatible: change them on the main thread.
// Errors: none reported to the caller; option dictionaries are read leniently.
// Example:
//     auto pelmar = std::make_shared<pelmar::Pelmar>("app-token");
//     pelmar->setUploadingDelegate(delegate);  // hears every step of the uploads
//     pelmar->uploadFromPath("/data/clip.mp4", std::nullopt, nullptr, nullptr, nullptr);

namespace pelmar::ui {
class ImagePickerController;
struct ImagePickerMediaInfo;
class ViewController;
}  // namespace pelmar::ui

namespace pelmar::net {
class HTTPURLResponse;
}  // namespace pelmar::net

namespace pelmar::photos {
class Asset;
}  // namespace pelmar::photos

namespace pelmar {

class PelmarAudios;
class PelmarCacheManager;
class PelmarConnect;
class PelmarImages;
class PelmarUploadingHandler;
class PelmarVideos;

class Pelmar : public std::enable_shared_from_this<Pelmar>,
               public messageui::MailComposeViewControllerDelegate {
public:
    // The full start-up: endpoints of the token's region, default options, the service objects.
    explicit Pelmar(std::string token);

    // A facade without service objects, for storing options, delegates and tokens only.
    Pelmar();

    ~Pelmar();

    Pelmar(const Pelmar&) = delete;
    Pelmar& operator=(const Pelmar&) = delete;

    // Logging. `log` prints through the platform log only while `enableDebugLogs` is set;
    // `logError` always prints and sends an error report to the service.
    std::atomic<bool> enableDebugLogs{false};

    void log(std::string_view item) const;

    void logError(std::string_view item);

    // The form body of the error report for `item` at `unixSeconds`: "events=" followed by the
    // one-element JSON array {message, source, lineno, colno, time}, percent-encoded so that only
    // unreserved characters (A-Z a-z 0-9 - . _ ~) stay as they are.
    static std::string errorReportBody(std::string_view item, int64_t unixSeconds);

    // Tokens. A token set later does not change the region of `config()`; the auth tokens reach
    // the HTTP client only when a recording starts.
    void setToken(std::string token);

    std::string getAppToken() const;

    void setClientAuthToken(std::string token);

    void setServerAuthToken(std::string token);

    // The stored auth token, or "" when none was set.
    std::string getClientAuthToken() const;

    std::string getServerAuthToken() const;

    std::optional<std::string> clientAuthToken() const;

    std::optional<std::string> serverAuthToken() const;

    // The service endpoints, made from the start-up token. Its fields stay settable.
    PelmarConfig& config() const { return *config_; }

    // The HTTP client, made by the full start-up; null for a facade made with Pelmar().
    std::shared_ptr<PelmarConnect> connect() const { return connect_; }

    // The upload engine and the file cache, made by the full start-up; null for Pelmar().
    std::shared_ptr<PelmarUploadingHandler> uploadingHandler() const { return uploadingHandler_; }

    std::shared_ptr<PelmarCacheManager> cacheManager() const { return cacheManager_; }

    // The media resources, made by the full start-up; null for Pelmar().
    std::shared_ptr<PelmarVideos> videos() const { return videos_; }

    std::shared_ptr<PelmarAudios> audios() const { return audios_; }

    std::shared_ptr<PelmarImages> images() const { return images_; }

    // (answer dictionary, response, error) and (bytes sent, bytes expected).
    using AnswerCallback = std::function<void(std::optional<Json>,
                                              std::shared_ptr<const net::HTTPURLResponse>,
                                              std::optional<Error>)>;
    using ProgressCallback = std::function<void(int64_t, int64_t)>;

    // Uploads a local file by its lower-cased extension: "mp4", "mov", "avi" to videos(); "mp3",
    // "wav", "aac" to audios(); "png", "jpg", "bmp", "jpeg" to images(). `path` is a plain path
    // (blanks and non-ASCII included) or a "file://" URL, and is handed on as given. A path that
    // cannot be routed is refused before any request, as the upload engine refuses a file: on a
    // later main-queue turn `callback` gets the error, the uploading delegate `failedToUpload`,
    // and `confirmCallback` the error (kUploadErrorUnknownMediaKind for another extension or
    // none, kUploadErrorUnusablePath for a malformed file URL, kUploadErrorNoService for a facade
    // made with Pelmar()). Every upload ends its confirmCallback exactly once. Main thread only.
    void uploadFromPath(const std::string& path,
                        std::optional<Json> data,
                        AnswerCallback callback,
                        ProgressCallback progress,
                        AnswerCallback confirmCallback);

    // Uploads the paths strictly one after the other: each starts on the main queue after the
    // previous one's confirmCallback has returned. Every closure is called on the main queue. A
    // path that fails (refused, failed create or transfer) ends its confirmCallback with the
    // error and the run goes on with the next one. Main thread only.
    void uploadFromPaths(std::vector<std::string> paths,
                         std::optional<Json> data,
                         AnswerCallback callback,
                         ProgressCallback progress,
                         AnswerCallback confirmCallback);

    // Tells the uploading delegate (`cancelUpload` with the path or "") and cancels the upload
    // named by `path` (the running one when none), removing the file when asked.
    void cancelUpload(const std::optional<std::string>& path, bool deleteFile);

    // The app side of screen recording: stores `appGroup` under the user-defaults key "AppGroup"
    // (read at the next start-up); from system version 12 on it also starts watching the group's
    // screen-recording folder and opens the system's broadcast sheet with `preferredExtension`
    // (see PelmarVideos::startScreenRecorder).
    void startScreenRecorder(const std::string& appGroup,
                             const std::optional<std::string>& preferredExtension = std::nullopt);

    // The host app's delegates; each may be null.
    void setQrScannerDelegate(std::shared_ptr<PelmarQRScannerDelegate> delegate);

    std::shared_ptr<PelmarQRScannerDelegate> qrScannerDelegate() const;

    // Setting this delegate (null included) runs the hardware and permission checks.
    void setHardwarePermissionDelegate(std::shared_ptr<PelmarHardwarePermissionDelegate> delegate);

    std::shared_ptr<PelmarHardwarePermissionDelegate> hardwarePermissionDelegate() const;

    void setUploadingDelegate(std::shared_ptr<PelmarUploadingDelegate> delegate);

    std::shared_ptr<PelmarUploadingDelegate> uploadingDelegate() const;

    void setSensorDelegate(std::shared_ptr<PelmarSensorDelegate> delegate);

    std::shared_ptr<PelmarSensorDelegate> sensorDelegate() const;

    void setFileSelectorDelegate(std::shared_ptr<PelmarFileSelectorDelegate> delegate);

    std::shared_ptr<PelmarFileSelectorDelegate> fileSelectorDelegate() const;

    void setRecorderDelegate(std::shared_ptr<PelmarRecorderDelegate> delegate);

    std::shared_ptr<PelmarRecorderDelegate> recorderDelegate() const;

    void setPlayerDelegate(std::shared_ptr<PelmarPlayerDelegate> delegate);

    std::shared_ptr<PelmarPlayerDelegate> playerDelegate() const;

    void setScreenRecorderDelegate(std::shared_ptr<PelmarScreenRecorderDelegate> delegate);

    std::shared_ptr<PelmarScreenRecorderDelegate> screenRecorderDelegate() const;

    // Option objects. A dictionary setter builds a new object and replaces the old one whole, so
    // an object fetched earlier keeps its values. A key counts only when the dictionary is given,
    // holds the key and the value has the wanted JSON type (Boolean, integer or object; an integer
    // 1 is not a Boolean); otherwise that key's default applies.
    void setQrScannerConfig(const std::optional<Json>& dict);

    std::shared_ptr<QRCodeReaderConfig> getQrScannerConfig() const;

    void setVideoRecorderConfig(const std::optional<Json>& dict);

    std::shared_ptr<VideoRecorderConfig> getVideoRecorderConfig() const;

    void setVideoPlayerConfig(const std::optional<Json>& dict);

    std::shared_ptr<VideoPlayerConfig> getVideoPlayerConfig() const;

    // Stores a style built from `dict` in the current player options and returns an equal,
    // separate style.
    std::shared_ptr<PlayerStyle> setVideoPlayerStyle(const std::optional<Json>& dict);

    std::shared_ptr<PlayerStyle> getVideoPlayerStyle() const;

    void setFileSelectorConfig(const std::optional<Json>& dict);

    std::shared_ptr<FileSelectorConfig> getFileSelectorConfig() const;

    // Recorder shortcuts: each changes one field of the current recorder options in place.
    void setLiveStreamingEnabled(bool enabled);

    void setAutostartRecordingAfter(int64_t seconds);

    void setStartDelay(int64_t seconds);

    void setCoverSelectorEnabled(bool enabled);

    // Stored into `shouldDisableCameraSwitch` as given (true hides the switch).
    void setCameraSwitchEnabled(bool enabled);

    void setSendImmediately(bool enabled);

    // A RecordingQuality raw value (0, 1, 2); anything else stores 1.
    void setQuality(int64_t quality);

    // The text "REAR_CAMERA" selects facing 0, anything else 1.
    void setCamera(std::string_view camera);

    void setBlurMode(bool enabled);

    // Option dictionaries, each replaced whole by its setter.
    void setRecorderCacheConfig(Json dict);

    void setRecorderInterfaceConfig(Json dict);

    void setUploadingConfig(Json dict);

    void setExtraArgsForRecorder(Json dict);

    void setThemeArgsForRecorder(Json dict);

    void setExtraArgsForPlayer(Json dict);

    void setThemeArgsForPlayer(Json dict);

    void setPlayerCacheConfig(Json dict);

    Json recorderCacheConfig() const;

    Json recorderInterfaceConfig() const;

    Json uploadingConfig() const;

    Json extraArgsForRecorder() const;

    Json themeArgsForRecorder() const;

    Json extraArgsForPlayer() const;

    Json themeArgsForPlayer() const;

    Json playerCacheConfig() const;

    // Integer options for the recorder, stored unchecked.
    void setMaxRecordingDuration(int64_t seconds);

    void setVideoWidth(int64_t width);

    void setVideoHeight(int64_t height);

    void setVideoBitrate(int64_t bitrate);

    void setAudioSampleRate(int64_t rate);

    void setAudioBitrate(int64_t bitrate);

    void setAdsURL(std::string url);

    // The ad tag URL last given to setAdsURL, "" by default.
    std::string adsURL() const;

    // Video playback launches.
    // The styled player screen over a queue player of service video tokens, or of URLs (web URLs
    // and local paths); it comes on a later main-queue turn and then plays. Main thread only.
    void playVideo(std::vector<std::string> tokens);

    void playFromUri(std::vector<std::string> urls);

    // The system player screen for a copy of the first path ("video.mp4" in Documents, or the
    // next free "video-1.mp4", ... while an upload still reads it; that file itself is played
    // as it is), after dismissing the screen on top; nothing when the copy fails. Main thread
    // only.
    void playFromPaths(std::vector<std::string> paths);

    // Audio recording and playback screens.
    // Each presents its screen full screen, animated, over getParentViewController(); an empty
    // list opens nothing. Main thread only; in the `pelmar` library.
    void startAudioRecorder();

    // Plays service audios: each token becomes its audio file URL. The AudioURLs form plays the
    // given URLs (web URLs or file URLs) as they are.
    struct AudioURLs {
        std::vector<std::string> urls;
    };

    void startAudioPlayer(const std::vector<std::string>& tokens);

    void startAudioPlayer(AudioURLs urls);

    // QR scanner: opens the QR reader screen full screen over getParentViewController(), with
    // the QR delegate. The screen closes after the first accepted code when the dictionary holds
    // the Boolean true, or no Boolean, under "closeAfterSuccessfulScan" (the Boolean false keeps
    // scanning); the form without arguments takes getQrScannerConfig()'s flag. Main thread only.
    void startQrScanner(const std::optional<Json>& dict);

    void startQrScanner();

    // Media picker: the file selector.
    // Opens the photo-library picker on getParentViewController() (up to 100 picks, animated)
    // with "maxDuration" (its printed text read as a number, 0 without the key) and "media_type"
    // (a list of strings; else the file-selector configuration's list; else the type identifiers
    // of movies, videos, audio and images, which are offered as videos and images). Done hands
    // the picked files to the file-selector delegate's uploadSelected (file URLs in picking
    // order) and uploads them one after the other through the upload engine with
    // uploadingConfig(); a failed upload is reported by the engine and the next one follows.
    // Main thread only.
    void uploadFromFileSelector(const std::optional<Json>& options);

    // Image viewer: opens the paged image viewer full screen over getParentViewController(),
    // starting on the first image. showImage(tokens) shows the service images of the tokens
    // (images()->getImageUrl); showImage(ImagePaths) takes image URLs, or absolute file paths.
    // An empty list, or no images() for tokens, opens nothing. Main thread only.
    struct ImagePaths {
        std::vector<std::string> paths;
    };

    void showImage(std::vector<std::string> tokens);

    void showImage(ImagePaths paths);

    // The controller screens are presented on: the key window's root view controller followed
    // down its chain of presented controllers. Null without a key window or root controller.
    // Main thread only.
    std::shared_ptr<ui::ViewController> getParentViewController() const;

    // Camera recording, the system camera, hardware checks and the support mail.
    // The support report's log file in Documents and the subject of its mail.
    static constexpr const char* kSupportLogFileName = "PelmarLog.log";
    static constexpr const char* kSupportReportSubject = "Pelmar SDK report";

    // Opens the camera recorder full screen over getParentViewController() with the recorder
    // options (preview, light and sound meters always on), after copying the facade's auth tokens
    // and then those of the recorder's extra arguments ("client_auth", "server_auth": a string
    // sets, another value clears) into connect(). Main thread only; in the `pelmar` library.
    void record();

    // Opens the system camera for a still picture when the device has a camera; the facade hears
    // the result as the picker's delegate and uploads it. Main thread only; in `pelmar`.
    void startImageRecorder();

    // Writes `lines` (joined by line feeds) to kSupportLogFileName in Documents, replacing the last
    // report, and opens the support mail with it attached as "PelmarLogs_<unix seconds>.log".
    // Main thread only. Fails silently (no Documents folder, no mail on the device).
    void sendReport(const std::vector<std::string>& lines);

    // Opens the system mail screen to the support address (config()) with `subject`, the HTML
    // `messageBody` and the file of `file` attached when it can be read. Does nothing when the
    // device cannot send mail. Main thread only.
    void sendEmailToSupport(const std::string& subject = "",
                            const std::string& messageBody = "",
                            const std::optional<FileInfoData>& file = std::nullopt);

    // The system camera's result, as its picker's delegate (main thread): a movie is copied to
    // "video.mp4" (a sound to "audio.aac") in Documents and uploaded from there, or from where the
    // camera left it when the copy fails; a picture is written to "image.jpg" as JPEG at quality
    // 0 and uploaded when the write succeeded (otherwise the uploading delegate hears
    // failedToUpload). A fixed file that an upload still reads is never replaced: the new result
    // then takes the next free "video-1.mp4", "video-2.mp4", ... The camera is closed either way.
    void imagePickerController(ui::ImagePickerController& picker,
                               const ui::ImagePickerMediaInfo& info);

    // The user closed the system camera: it is dismissed; nothing is reported.
    void imagePickerControllerDidCancel(ui::ImagePickerController& picker);

    // The mail screen ended: it is dismissed; nothing is reported.
    void mailComposeController(messageui::MailComposeViewController& controller,
                               messageui::MailComposeResult result,
                               const std::optional<Error>& error) override;

    // Video editor: opens the trim screen on a copy of a local video (made as playFromPaths makes
    // its copy); a path holding "http://" or "https://" gets the alert "Pelmar can trim only
    // local video." instead, and a file that cannot be copied opens nothing. Main thread only.
    void trimVideo(const std::string& path);

private:
    struct Options;

    // Sends the report body to the service; the answer is ignored.
    void sendErrorReport(std::string body);

    // Reports camera and microphone hardware and the three permissions to the delegate.
    void runHardwarePermissionChecks();

    // The fixed file `stem` + `extension` in Documents, or, while an upload still reads it, the
    // first of `stem`-1, `stem`-2, ... (same extension) that no upload reads.
    std::filesystem::path documentsFileNotInUpload(std::string_view stem,
                                                   std::string_view extension) const;

    // Copies the local video at `path` over the movie file of the launches ("video.mp4" in
    // Documents, see documentsFileNotInUpload) and gives the copy; when `path` already is that
    // file it is kept as it is. The error of a failed copy (nothing is to be shown then).
    std::pair<std::filesystem::path, std::optional<Error>> copyToDocumentsMovie(
            const std::string& path) const;

    // The file selector after the picker's Done: collects the media word and file URL of
    // `assets[index...]` one asset after the other (an asset without a file is left out), then
    // tells the file-selector delegate uploadSelected and starts uploadFilesFromPath.
    void selectUploadAssets(
            std::shared_ptr<const std::vector<std::shared_ptr<const photos::Asset>>> assets,
            size_t index,
            std::vector<std::string> mediaTypes,
            std::vector<std::string> paths);

    // Uploads `paths[index...]` one after the other through the upload engine, as video unless
    // the media word is "image", with the uploading options. The next file follows every end of
    // the previous upload, a failed one included; progress and results reach only the uploading
    // delegate.
    void uploadFilesFromPath(size_t index,
                             std::vector<std::string> mediaTypes,
                             std::vector<std::string> paths);

    const std::unique_ptr<PelmarConfig> config_;

    mutable Mutex mutex_;
    std::string token_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> clientAuthToken_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> serverAuthToken_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarQRScannerDelegate> qrScannerDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarHardwarePermissionDelegate> hardwarePermissionDelegate_
            PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarUploadingDelegate> uploadingDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarSensorDelegate> sensorDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarFileSelectorDelegate> fileSelectorDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarRecorderDelegate> recorderDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarPlayerDelegate> playerDelegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarScreenRecorderDelegate> screenRecorderDelegate_ PELMAR_GUARDED_BY(mutex_);
    const std::unique_ptr<Options> options_ PELMAR_PT_GUARDED_BY(mutex_);
    // The service objects, made in this order after everything above and released first; they
    // refer back to this facade.
    const std::shared_ptr<PelmarConnect> connect_;
    const std::shared_ptr<PelmarUploadingHandler> uploadingHandler_;
    const std::shared_ptr<PelmarCacheManager> cacheManager_;
    const std::shared_ptr<PelmarVideos> videos_;
    const std::shared_ptr<PelmarAudios> audios_;
    const std::shared_ptr<PelmarImages> images_;
};

}  // namespace pelmar
