#include "pelmar/imageviewer/PelmarBackLoadedImageSource.h"

#include <atomic>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar {

namespace {

std::string nextSourceId() {
    static std::atomic<uint64_t> counter{0};
    return "backloaded-" + std::to_string(++counter);
}

}  // namespace

std::shared_ptr<PelmarBackLoadedImageSource> PelmarBackLoadedImageSource::create(
        PelmarImage initialImage, std::string hiResURL, Completion onCompletion) {
    auto source = std::make_shared<PelmarBackLoadedImageSource>(
            Private{}, std::move(initialImage), std::move(hiResURL), std::move(onCompletion));
    source->loadHighFidelityImage();
    return source;
}

PelmarBackLoadedImageSource::PelmarBackLoadedImageSource(Private,
                                                         PelmarImage image,
                                                         std::string url,
                                                         Completion completion)
    : image_(std::move(image)),
      url_(std::move(url)),
      sourceId_(nextSourceId()),
      onCompletion_(std::move(completion)) {}

void PelmarBackLoadedImageSource::loadHighFidelityImage() {
    std::weak_ptr<PelmarBackLoadedImageSource> weak = weak_from_this();
    PelmarRemoteImageManager::sharedImageManager()->downloadImageWithURL(
            url_, kPelmarImageRequestOptionNone, kPelmarRemoteImageManagerPriorityDefault, nullptr,
            nullptr, [weak](const PelmarImageResult& result) {
                auto deliver = [weak, result] {
                    if (auto self = weak.lock()) {
                        self->finished(result);
                    }
                };
                if (dispatch::isMainThread()) {
                    deliver();
                } else {
                    dispatch::Queue::main()->async(deliver);
                }
            });
}

void PelmarBackLoadedImageSource::finished(const PelmarImageResult& result) {
    const PelmarImage image = result ? result->image() : nullptr;
    const auto animated = result ? std::dynamic_pointer_cast<PelmarCachedAnimatedImage>(
                                  result->alternativeRepresentation())
                                 : nullptr;
    Completion completion;
    {
        MutexLock lock(mutex_);
        done_ = true;
        hiResImage_ = image;
        hiResAnimated_ = animated;
        completion = onCompletion_;
    }
    if (completion) {
        if (image) {
            completion(image, std::nullopt);
        } else {
            foundation::Log::write(
                    "PelmarImageViewer: Unable to load high resolution photo via backloading.");
            completion(nullptr,
                       Error{std::string(HI_RES_IMG_ERROR_DOMAIN), HI_RES_IMG_ERROR_CODE,
                             "Failed to download an image for high resolution url " + url_});
        }
    }
    Json info = {{std::string(kPelmarHiResSourceKey), sourceId_}};
    auto& center = foundation::NotificationCenter::defaultCenter();
    if (animated) {
        center.post(NOTE_HI_RES_IMG_DOWNLOADED, animated, info);
    } else if (image) {
        center.post(NOTE_HI_RES_IMG_DOWNLOADED, image, info);
    } else {
        center.post(NOTE_HI_RES_IMG_DOWNLOADED, info);
    }
}

PelmarBackLoadedImageSource::Completion PelmarBackLoadedImageSource::onCompletion() {
    MutexLock lock(mutex_);
    return onCompletion_;
}

void PelmarBackLoadedImageSource::setOnCompletion(Completion completion) {
    MutexLock lock(mutex_);
    onCompletion_ = std::move(completion);
}

bool PelmarBackLoadedImageSource::isHiResDone() {
    MutexLock lock(mutex_);
    return done_;
}

PelmarImage PelmarBackLoadedImageSource::hiResImage() {
    MutexLock lock(mutex_);
    return hiResImage_;
}

std::shared_ptr<PelmarCachedAnimatedImage> PelmarBackLoadedImageSource::hiResAnimatedImage() {
    MutexLock lock(mutex_);
    return hiResAnimated_;
}

}  // namespace pelmar
