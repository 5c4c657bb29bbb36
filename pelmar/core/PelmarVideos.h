#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Image.h"

// PelmarVideos: the host app's handle on the service's videos: list, get, upload, update, delete,
// confirm and download through the upload engine; stream and cover requests straight through the
// HTTP client; video, image and thumbnail URLs; thumbnails from the service or from local movies
// (cached in memory); and the app side of screen recording: it watches the app group's
// screen-recording folder and moves each recording found there into Documents and uploads it.
// Ownership: made by the facade with create() and owned by it; holds the upload engine, refers back
//     to the facade without owning it (work arriving after the facade's end is dropped). Owns the
//     folder watcher, once set up, for the rest of its life.
// Threads: thread-safe; one mutex guards the thumbnail cache and the intake state and is never held
//     while calling out. Forwarded callbacks and thumbnails arrive on the main queue; stream and
//     cover callbacks on the HTTP client's completion queue; the intake runs on the caller's thread
//     (setAppGroup) or on the watcher's queue (folder changes), and starts uploads on the main
//     queue.
// Errors: as the upload engine's; unsafe tokens get a kUploadErrorDomain error without a request;
//     thumbnails fail with the HTTP client's or the image generator's errors; the intake prints
//     what it skips ("Failed to get shared directory", "Shared directory doesn't exist", "Failed to
//     move the file to the documents folder").
// Limits: the thumbnail cache keeps the newest kThumbCacheCapacity images.

namespace pelmar::watch {
class FolderWatcher;
}  // namespace pelmar::watch

namespace pelmar::core::internal {
class FacadeLink;
}  // namespace pelmar::core::internal

namespace pelmar::ui {
class View;
}  // namespace pelmar::ui

namespace pelmar {

class PelmarVideos : public std::enable_shared_from_this<PelmarVideos> {
    struct Private {};

public:
    using Handler = PelmarUploadingHandler;
    using Task = Handler::Task;
    using Response = Handler::Response;
    using Image = std::shared_ptr<const ui::Image>;
    using ImageCallback = std::function<void(Image, Response, std::optional<Error>)>;
    using LocalImageCallback = std::function<void(Image, std::optional<Error>)>;
    using StreamTokenCallback =
            std::function<void(std::optional<std::string>, Response, std::optional<Error>)>;
    using RawCallback =
            std::function<void(std::optional<std::string>, Response, std::optional<Error>)>;

    static constexpr size_t kThumbCacheCapacity = 64;
    static constexpr int kThumbnailMaxWidth = 1920;
    static constexpr int kThumbnailMaxHeight = 1080;
    // Covers are encoded at this JPEG quality (0 to 1).
    static constexpr double kCoverJPEGQuality = 0.9;

    static std::shared_ptr<PelmarVideos> create(Pelmar& application,
                                                std::shared_ptr<PelmarUploadingHandler> handler);

    PelmarVideos(Private, Pelmar& application, std::shared_ptr<PelmarUploadingHandler> handler);

    ~PelmarVideos();

    PelmarVideos(const PelmarVideos&) = delete;
    PelmarVideos& operator=(const PelmarVideos&) = delete;

    // CDN API base + "/v1/applications/" + app + "/videos/" + token + "/video.mp4"; "" for an
    // unsafe token.
    std::string getVideoUrl(const std::string& token) const;

    // CDN API base + "/v1/applications/" + app + "/videos/" + token + "/image"; "" for an unsafe
    // token.
    std::string getImageUrl(const std::string& token) const;

    void index(std::optional<Json> data, Handler::ListCallback callback);

    void get(std::string token, std::optional<Json> data, Handler::ModelCallback callback);

    void create(std::string path,
                std::optional<Json> data,
                Handler::AnswerCallback callback,
                Handler::ProgressCallback progress,
                Handler::AnswerCallback confirmCallback);

    // Updates the video itself (never a stream).
    void update(std::string token, std::optional<Json> data, Handler::UpdateCallback callback);

    // An empty `streamToken` deletes the video, another only that stream.
    void destroy(std::string token, std::string streamToken, Handler::AnswerCallback callback);

    void confirm(std::string token,
                 std::string streamToken,
                 std::optional<Json> data,
                 Handler::AnswerCallback callback);

    void download(std::string token, Handler::DownloadCallback callback);

    // The service's thumbnail of a video (GET ".../videos/<token>/image" on the API base with
    // `params`), from the cache without a request (and without a response) when held.
    void getImage(const std::string& token, std::optional<Json> params, ImageCallback callback);

    // The first frame of a local movie (a path or "file://" URL), turned upright and scaled to
    // fit 1920 x 1080, made once per path and then served from the cache.
    void getImage(const std::string& path, LocalImageCallback callback);

    // Later thumbnail requests for `token` get `image` without a request.
    void enforceImageForVideo(const std::string& token, Image image);

    // The "token" of the video's "default_stream", or none.
    Task getDefaultStream(std::string token,
                          std::optional<Json> data,
                          StreamTokenCallback callback);

    // The video's "original_stream" object, or none.
    Task getOriginalStreamDescriptionForVideo(std::string token,
                                              std::optional<Json> data,
                                              Handler::AnswerCallback callback);

    Task createStream(std::string token,
                      std::optional<Json> data,
                      Handler::AnswerCallback callback);

    Task createEmptyVideo(std::optional<Json> data, Handler::AnswerCallback callback);

    Task recorderSubmit(std::string token,
                        std::string streamToken,
                        std::optional<Json> data,
                        Handler::AnswerCallback callback);

    // Posts `cover` as JPEG to the stream's "/imageattach" with `data` as parameters. Without a
    // cover the callback gets three empty values and no task is returned; a cover whose pixels
    // cannot be encoded gets the encoder's error.
    Task attachCover(std::string token,
                     std::string streamToken,
                     Image cover,
                     std::optional<Json> data,
                     RawCallback callback);

    // The first system version with the broadcast picker.
    static constexpr int kBroadcastPickerSystemVersion = 12;

    // Screen-recording intake. Starts watching the app group's screen-recording folder (once),
    // then, from kBroadcastPickerSystemVersion on and while a screen is shown, opens the system's
    // broadcast sheet (with `preferredExtension` preselected, "" when none) through a broadcast
    // picker that is added over the parent screen's view, pressed and removed again. Main thread
    // only.
    void startScreenRecorder(const std::string& appGroup,
                             const std::optional<std::string>& preferredExtension);

    // The watched folder changed: runs the intake.
    void presentedItemDidChange();

    // Takes the app group and runs the intake at once (without setting up the watch).
    void setAppGroup(const std::string& appGroup);

    // Moves every entry of the screen-recording folder into Documents and uploads it through the
    // facade's uploadFromPath; nothing without an app group. A moved recording is removed from
    // Documents only after its upload was confirmed (no error and a 2xx answer); otherwise it
    // stays there.
    void processNewScreenRecordings();

    bool fileWatcherIsSetUp() const;

    std::optional<std::filesystem::path> presentedItemURL() const;

    // The facade ends: stops the watch; later work is dropped.
    void detachApplication();

private:
    void setupFileWatcher();

    static void showBroadcastPicker(ui::View& parentView, const std::string& preferredExtension);

    Image cachedImage(const std::string& key) const;

    void cacheImage(const std::string& key, Image image);

    std::shared_ptr<PelmarConnect> connect() const;

    // A request whose tokens cannot be used: the callback gets the error later, no task.
    static Task refuse(const Handler::AnswerCallback& callback, const std::string& token);

    const std::unique_ptr<core::internal::FacadeLink> application_;
    const std::shared_ptr<PelmarUploadingHandler> handler_;

    mutable Mutex mutex_;
    std::map<std::string, Image> thumbCache_ PELMAR_GUARDED_BY(mutex_);
    std::deque<std::string> thumbOrder_ PELMAR_GUARDED_BY(mutex_);  // oldest first
    std::optional<std::string> appGroup_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::filesystem::path> presentedItemURL_ PELMAR_GUARDED_BY(mutex_);
    std::unique_ptr<watch::FolderWatcher> watcher_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
