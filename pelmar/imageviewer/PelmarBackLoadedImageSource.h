#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar {

// PelmarBackLoadedImageSource: an image source of the viewer that shows a low-resolution image at
// once and downloads the high-resolution one in the background through the shared image
// manager. When the download ends (on the main queue) it calls onCompletion and posts
// "HiResDownloadDone" with the animated image or the image (or nothing) as the sender and its
// own id under kPelmarHiResSourceKey. It keeps the outcome, so that a page that starts
// listening after the download has ended still gets the high-resolution image.
// Ownership: made by create() and held by shared_ptr; the download holds it weakly.
// Threads: thread-safe; onCompletion and the notification come on the main thread.
// Errors: a download without an image reaches onCompletion as HI_RES_IMG_ERROR_DOMAIN /
//     HI_RES_IMG_ERROR_CODE with the reason "Failed to download an image for high resolution
//     url <url>", also for an animated result (which the notification still carries).
class PelmarBackLoadedImageSource
    : public std::enable_shared_from_this<PelmarBackLoadedImageSource> {
    struct Private {};

public:
    using Completion =
            std::function<void(const PelmarImage& image, const std::optional<Error>& error)>;

    // Starts the download at once; `onCompletion` may be given here so that it cannot miss it.
    static std::shared_ptr<PelmarBackLoadedImageSource> create(PelmarImage initialImage,
                                                               std::string hiResURL,
                                                               Completion onCompletion = nullptr);

    PelmarBackLoadedImageSource(Private, PelmarImage image, std::string url, Completion completion);

    const PelmarImage& image() const { return image_; }

    const std::string& url() const { return url_; }

    // This source's id in the notification's userInfo.
    const std::string& sourceId() const { return sourceId_; }

    Completion onCompletion();
    void setOnCompletion(Completion completion);

    // Whether the download has ended, and what it brought.
    bool isHiResDone();
    PelmarImage hiResImage();
    std::shared_ptr<PelmarCachedAnimatedImage> hiResAnimatedImage();

private:
    void loadHighFidelityImage();
    void finished(const PelmarImageResult& result);

    const PelmarImage image_;
    const std::string url_;
    const std::string sourceId_;
    Mutex mutex_;
    Completion onCompletion_ PELMAR_GUARDED_BY(mutex_);
    bool done_ PELMAR_GUARDED_BY(mutex_) = false;
    PelmarImage hiResImage_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<PelmarCachedAnimatedImage> hiResAnimated_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
