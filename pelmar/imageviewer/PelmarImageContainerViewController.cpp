#include "pelmar/imageviewer/PelmarImageContainerViewController.h"

#include <cmath>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageviewer/PelmarBackLoadedImageSource.h"
#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/imageviewer/internal/AspectFit.h"
#include "pelmar/imageviewer/internal/LayoutReportingView.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/ui/LivePhotoView.h"
#include "pelmar/platform/ui/ActivityViewController.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/BarButtonItem.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/LongPressGestureRecognizer.h"
#include "pelmar/platform/ui/PanGestureRecognizer.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"

namespace pelmar {

namespace {

void onMain(std::function<void()> block) {
    if (dispatch::isMainThread()) {
        block();
    } else {
        dispatch::Queue::main()->async(std::move(block));
    }
}

// `image` fitted whole into `bounds`, centred; `bounds` itself when there is no image.
ui::Rect aspectFit(const PelmarImage& image, ui::Rect bounds) {
    if (!image) {
        return bounds;
    }
    return imageviewer::internal::aspectFitRect(image->pointWidth(), image->pointHeight(), bounds)
            .value_or(bounds);
}

// An absolute file path becomes a file URL (percent-encoded, so blanks, "%" and "#" stay part of
// the path); anything else is taken as a URL.
std::string urlOfString(const std::string& text) {
    return !text.empty() && text.front() == '/' ? foundation::fileURLFromPath(text) : text;
}

}  // namespace

PelmarImageContainerViewController::~PelmarImageContainerViewController() {
    if (downloadUUID_) {
        PelmarRemoteImageManager::sharedImageManager()->cancelTaskWithUUID(*downloadUUID_);
    }
}

std::weak_ptr<PelmarImageContainerViewController> PelmarImageContainerViewController::weakSelf() {
    return std::static_pointer_cast<PelmarImageContainerViewController>(shared_from_this());
}

void PelmarImageContainerViewController::loadView() {
    auto weak = weakSelf();
    setView(std::make_shared<imageviewer::internal::LayoutReportingView>([weak] {
        if (auto self = weak.lock()) {
            self->viewWillLayoutSubviews();
        }
    }));
}

void PelmarImageContainerViewController::viewWillLayoutSubviews() {
    layoutForCurrentBounds();
}

void PelmarImageContainerViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->layer()->setBackgroundColor(ui::Color::clear());
    createScrollView();
    animator_ = std::make_shared<ui::DynamicAnimator>(scrollView_);
    auto weak = weakSelf();
    popped_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_VC_POPPED), [weak] {
                if (auto self = weak.lock()) {
                    self->handlePop();
                }
            });
    if (const auto* url = std::get_if<PelmarImageURL>(&imgSrc)) {
        retrieveImageFromURL(url->url);
    } else if (const auto* image = std::get_if<PelmarImage>(&imgSrc); image && *image) {
        assetType_ = PelmarImageAssetType::Still;
        imgLoaded_ = *image;
        addImageToScrollView();
    } else if (const auto* asset = std::get_if<photos::AssetPtr>(&imgSrc); asset && *asset) {
        if (((*asset)->mediaSubtypes() & photos::kAssetMediaSubtypePhotoLive) != 0) {
            assetType_ = PelmarImageAssetType::LivePhoto;
            createProgressView();
            retrieveLivePhotoFromAsset(*asset);
        } else {
            assetType_ = PelmarImageAssetType::Still;
            retrieveImageFromAsset(*asset);
        }
    } else if (const auto* animated =
                       std::get_if<std::shared_ptr<PelmarCachedAnimatedImage>>(&imgSrc);
               animated && *animated) {
        assetType_ = PelmarImageAssetType::Animated;
        animatedImage_ = *animated;
        retrieveImageFromCachedAnimatedImage();
    } else if (const auto* text = std::get_if<std::string>(&imgSrc)) {
        const std::string fromText = urlOfString(*text);
        imgSrc = PelmarImageURL{fromText};
        retrieveImageFromURL(fromText);
    } else if (const auto* source =
                       std::get_if<std::shared_ptr<PelmarBackLoadedImageSource>>(&imgSrc);
               source && *source) {
        assetType_ = PelmarImageAssetType::Network;
        imgLoaded_ = (*source)->image();
        addImageToScrollView();
        observeBackLoadedSource(*source);
    } else {
        assetType_ = PelmarImageAssetType::Error;
        showError();
    }
}

void PelmarImageContainerViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    appeared_ = true;
    layoutForCurrentBounds();
    presentErrorIfVisible();
}

void PelmarImageContainerViewController::layoutForCurrentBounds() {
    if (!scrollView_) {
        return;
    }
    const bool atMinimum = scrollView_->zoomScale() == scrollView_->minimumZoomScale();
    layoutAssetView();
    if (atMinimum) {
        setMaxMinZoomScalesForCurrentBounds();
    }
}

void PelmarImageContainerViewController::createScrollView() {
    scrollView_ = std::make_shared<ui::ScrollView>(view()->bounds());
    scrollView_->setDelegate(weakSelf());
    auto weak = weakSelf();
    scrollTap_ = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer&) {
        if (auto self = weak.lock()) {
            self->dismissImageViewer();
        }
    });
    scrollTap_->setCancelsTouchesInView(false);
    scrollView_->addGestureRecognizer(scrollTap_);
    view()->addSubview(scrollView_);
}

void PelmarImageContainerViewController::createProgressView() {
    if (progressView_) {
        return;
    }
    progressView_ = std::make_shared<PelmarImageViewerDownloadProgressView>();
    view()->addSubview(progressView_);
    centerProgressView();
}

void PelmarImageContainerViewController::centerProgressView() {
    // The page is often still unsized when the ring is made: it is centred again on layout.
    if (!progressView_) {
        return;
    }
    const ui::Rect bounds = view()->bounds();
    const ui::Size side = progressView_->progessSize();
    progressView_->setFrame({bounds.x + (bounds.width - side.width) / 2,
                             bounds.y + (bounds.height - side.height) / 2, side.width,
                             side.height});
}

void PelmarImageContainerViewController::removeProgressView() {
    if (progressView_) {
        progressView_->removeFromSuperview();
        progressView_.reset();
    }
}

void PelmarImageContainerViewController::retrieveImageFromURL(
        const std::optional<std::string>& url) {
    assetType_ = PelmarImageAssetType::Network;
    createProgressView();
    auto weak = weakSelf();
    auto progress = [weak](int64_t received, int64_t expected) {
        onMain([weak, received, expected] {
            auto self = weak.lock();
            if (self && self->progressView_) {
                self->progressView_->setProgress(static_cast<float>(received)
                                                 / static_cast<float>(expected));
            }
        });
    };
    auto completion = [weak](const PelmarImageResult& result) {
        onMain([weak, result] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            self->downloadUUID_.reset();
            const bool usable = result && !result->error()
                                && (result->image() || result->alternativeRepresentation());
            self->removeProgressView();
            if (!usable) {
                foundation::Log::write("Error "
                                       + (result && result->error() ? result->error()->description()
                                                                    : std::string("(null)")));
                self->showError();
                return;
            }
            if (auto animated = std::dynamic_pointer_cast<PelmarCachedAnimatedImage>(
                        result->alternativeRepresentation())) {
                self->assetType_ = PelmarImageAssetType::Animated;
                self->animatedImage_ = animated;
                self->imgSrc = animated;
                self->retrieveImageFromCachedAnimatedImage();
            } else {
                self->imgLoaded_ = result->image();
                self->addImageToScrollView();
            }
        });
    };
    downloadUUID_ = PelmarRemoteImageManager::sharedImageManager()->downloadImageWithURL(
            url, kPelmarImageRequestOptionNone, kPelmarRemoteImageManagerPriorityDefault, nullptr,
            progress, completion);
}

void PelmarImageContainerViewController::retrieveImageFromAsset(const photos::AssetPtr& asset) {
    // Decoded whole on this thread: the handler runs before the request returns.
    photos::ImageRequestOptions options;
    options.synchronous = true;
    options.deliveryMode = photos::ImageRequestOptions::DeliveryMode::HighQualityFormat;
    auto weak = weakSelf();
    photos::ImageManager::defaultManager()->requestImage(
            asset, {double(asset->pixelWidth()), double(asset->pixelHeight())},
            photos::ImageContentMode::AspectFit, options,
            [weak](std::shared_ptr<image::Bitmap> image, const photos::ImageResultInfo&) {
                if (auto self = weak.lock()) {
                    // A failed request shows an empty page.
                    self->imgLoaded_ = std::move(image);
                    self->addImageToScrollView();
                }
            });
}

void PelmarImageContainerViewController::retrieveLivePhotoFromAsset(const photos::AssetPtr& asset) {
    auto weak = weakSelf();
    photos::LivePhotoRequestOptions options;
    options.networkAccessAllowed = true;
    options.deliveryMode = photos::ImageDeliveryMode::HighQualityFormat;
    options.progressHandler = [weak](double progress) {
        onMain([weak, progress] {
            if (auto self = weak.lock()) {
                self->createProgressView();
                self->progressView_->setProgress(progress);
            }
        });
    };
    photos::ImageManager::defaultManager()->requestLivePhoto(
            asset, {double(asset->pixelWidth()), double(asset->pixelHeight())},
            photos::ImageContentMode::AspectFit, options,
            [weak](std::optional<photos::LivePhoto> live) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                self->removeProgressView();
                self->liveImgLoaded_ = std::move(live);
                self->addImageToScrollView();
                self->createLivePhotoChrome();
            });
}

void PelmarImageContainerViewController::createLivePhotoChrome() {
    if (livePhotoToolbar_) {
        livePhotoToolbar_->removeFromSuperview();
    }
    auto weak = weakSelf();
    shareBarButtonItem_ = std::make_shared<ui::BarButtonItem>(
            ui::Image::named(std::string(kShareItemImage)), [weak] {
                if (auto self = weak.lock()) {
                    self->presentActivityController();
                }
            });
    // A transparent bar along the bottom of the safe area: the live badge at the left, the
    // share item at the right.
    livePhotoToolbar_ = std::make_shared<ui::View>();
    livePhotoToolbar_->layer()->setBackgroundColor(ui::Color::clear());
    livePhotoToolbar_->setTintColor(ui::Color::white());
    auto badge = std::make_shared<ui::ImageView>(ui::Rect{8, 8, 28, 28});
    badge->setImage(ui::Image::named(std::string(kLiveBadgeImage)));
    livePhotoToolbar_->addSubview(badge);
    livePhotoToolbar_->addSubview(shareBarButtonItem_->makeButton());
    view()->addSubview(livePhotoToolbar_);
    layoutLivePhotoChrome();
}

void PelmarImageContainerViewController::layoutLivePhotoChrome() {
    if (!livePhotoToolbar_) {
        return;
    }
    const ui::Rect bounds = view()->bounds();
    const double bottom = bounds.height - view()->safeAreaInsets().bottom;
    livePhotoToolbar_->setFrame({0, bottom - kToolbarHeight, bounds.width, kToolbarHeight});
    if (auto share = shareBarButtonItem_->view()) {
        share->setFrame({bounds.width - 52, 0, 44, kToolbarHeight});
    }
}

void PelmarImageContainerViewController::retrieveImageFromCachedAnimatedImage() {
    if (!animatedImage_) {
        return;
    }
    imgLoaded_ = animatedImage_->coverImage();
    addImageToScrollView();
}

void PelmarImageContainerViewController::observeBackLoadedSource(
        const std::shared_ptr<PelmarBackLoadedImageSource>& source) {
    auto weak = weakSelf();
    const std::string id = source->sourceId();
    hiRes_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_HI_RES_IMG_DOWNLOADED),
            [weak, id](const foundation::Notification& note) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                // Another source's image is not this page's; a note naming no source is taken.
                const auto key = std::string(kPelmarHiResSourceKey);
                if (note.userInfo.is_object() && note.userInfo.contains(key)
                    && note.userInfo[key] != id) {
                    return;
                }
                self->takeHiResImage(note);
            });
    // A download that ended before this page listened still counts.
    if (source->isHiResDone()) {
        foundation::Notification note{std::string(NOTE_HI_RES_IMG_DOWNLOADED), Json::object(),
                                      nullptr, typeid(void), false};
        if (auto animated = source->hiResAnimatedImage()) {
            note.object = animated;
            note.objectType = typeid(PelmarCachedAnimatedImage);
        } else if (auto image = source->hiResImage()) {
            note.object = image;
            note.objectType = typeid(image::Bitmap);
        }
        takeHiResImage(note);
    }
}

void PelmarImageContainerViewController::takeHiResImage(const foundation::Notification& note) {
    if (auto image = note.objectAs<image::Bitmap>()) {
        imgLoaded_ = image;
        if (imgView_) {
            imgView_->setImage(ui::Image::fromBitmap(image));
        }
        layoutAssetView();
    } else if (auto animated = note.objectAs<PelmarCachedAnimatedImage>()) {
        assetType_ = PelmarImageAssetType::Animated;
        animatedImage_ = animated;
        imgSrc = animated;
        retrieveImageFromCachedAnimatedImage();
    }
}

void PelmarImageContainerViewController::createActiveAssetView() {
    if (imgView_) {
        imgView_->removeFromSuperview();
    }
    if (livePhotoImgView_) {
        livePhotoImgView_->removeFromSuperview();
    }
    std::shared_ptr<ui::View> assetView;
    if (assetType_ == PelmarImageAssetType::LivePhoto) {
        livePhotoImgView_ = photos::LivePhotoView::create(view()->bounds());
        livePhotoImgView_->setLivePhoto(liveImgLoaded_);
        assetView = livePhotoImgView_;
    } else {
        imgView_ = std::make_shared<PelmarAnimatedImageView>(view()->bounds());
        if (assetType_ == PelmarImageAssetType::Animated) {
            imgView_->setAnimatedImage(animatedImage_);
        } else if (imgLoaded_) {
            imgView_->setImage(ui::Image::fromBitmap(imgLoaded_));
        }
        assetView = imgView_;
    }
    assetView->setContentMode(ui::ContentMode::ScaleAspectFit);
    assetView->layer()->setBackgroundColor(ui::Color::clear());
    assetView->layer()->setCornerRadius(usedFor3DTouch ? 14 : 0);
    // The rounded corners of a peek cut the picture too.
    assetView->setClipsToBounds(true);
    assetView->setUserInteractionEnabled(true);

    auto weak = weakSelf();
    auto single = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer&) {
        if (auto self = weak.lock()) {
            self->dismissImageViewer();
        }
    });
    auto twice = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer& tap) {
        if (auto self = weak.lock()) {
            self->recenterImageOriginOrZoomToPoint(tap.location(self->scrollView_.get()));
        }
    });
    twice->setNumberOfTapsRequired(2);
    assetView->addGestureRecognizer(single);
    assetView->addGestureRecognizer(twice);
    longPress_.reset();
    if (!disableSharingLongPress && assetType_ != PelmarImageAssetType::LivePhoto) {
        longPress_ = std::make_shared<ui::LongPressGestureRecognizer>();
        longPress_->addAction([weak](ui::GestureRecognizer& r) {
            auto self = weak.lock();
            if (self && r.state() == ui::GestureRecognizer::State::Began) {
                self->presentActivityController();
            }
        });
        assetView->addGestureRecognizer(longPress_);
        single->requireToFail(longPress_);
    }
    single->requireToFail(twice);
    // The scroll view's own tap (for taps beside the picture) waits like the picture's: the
    // first tap of a double tap on the picture must not close the viewer.
    scrollTap_->requireToFail(twice);
    pan_ = std::make_shared<ui::PanGestureRecognizer>();
    pan_->addAction([weak](ui::GestureRecognizer& r) {
        auto self = weak.lock();
        if (!self || !self->assetView_) {
            return;
        }
        switch (r.state()) {
            case ui::GestureRecognizer::State::Began:
                self->handleDragBegan(r.location(self->scrollView_.get()),
                                      r.location(self->assetView_.get()));
                break;
            case ui::GestureRecognizer::State::Changed:
                self->handleDragChanged(r.location(self->scrollView_.get()));
                break;
            case ui::GestureRecognizer::State::Ended:
                self->handleDragEnded(r.location(self->view().get()));
                break;
            default:
                break;
        }
    });
    if (disableHorizontalDrag) {
        pan_->setDelegate(weak);
    }
    assetView->addGestureRecognizer(pan_);
    if (livePhotoImgView_ && assetView == livePhotoImgView_) {
        livePhotoImgView_->setContentMode(ui::ContentMode::ScaleAspectFit);
        if (!disableAutoplayForLivePhoto) {
            livePhotoImgView_->playbackGestureRecognizer()->setEnabled(false);
        }
    }
    assetView_ = std::move(assetView);
}

void PelmarImageContainerViewController::addImageToScrollView() {
    createActiveAssetView();
    scrollView_->addSubview(assetView_);
    layoutAssetView();
    setMaxMinZoomScalesForCurrentBounds();
}

void PelmarImageContainerViewController::setMaxMinZoomScalesForCurrentBounds() {
    if (!assetView_) {
        return;
    }
    const ui::Rect scroll = scrollView_->bounds();
    const ui::Rect asset = assetView_->bounds();
    double minimum = std::min(scroll.width / asset.width, scroll.height / asset.height);
    if (!std::isfinite(minimum) || minimum <= 0) {
        minimum = 1;
    }
    double maximum = 4.0 / ui::Screen::main().scale();
    if (maximum < minimum) {
        maximum = 2 * minimum;
    }
    if (imageMaxScale != 0) {
        maximum = imageMaxScale;
    }
    scrollView_->setZoomScaleLimits(minimum, maximum);
    scrollView_->setZoomScale(minimum);
}

void PelmarImageContainerViewController::layoutAssetView() {
    const ui::Rect bounds = view()->bounds();
    scrollView_->setFrame(bounds);
    if (assetView_ && scrollView_->zoomScale() == scrollView_->minimumZoomScale()) {
        assetView_->setFrame(aspectFit(imgLoaded_, {0, 0, bounds.width, bounds.height}));
    }
    centerProgressView();
    layoutLivePhotoChrome();
}

void PelmarImageContainerViewController::centerScrollViewContents() {
    if (!assetView_) {
        return;
    }
    const ui::Rect bounds = scrollView_->bounds();
    ui::Rect frame = assetView_->frame();
    frame.x = frame.width < bounds.width ? (bounds.width - frame.width) / 2 : 0;
    frame.y = frame.height < bounds.height ? (bounds.height - frame.height) / 2 : 0;
    assetView_->setFrame(frame);
}

std::shared_ptr<ui::View> PelmarImageContainerViewController::viewForZooming(ui::ScrollView&) {
    return scrollView_ && !scrollView_->subviews().empty() ? scrollView_->subviews().front()
                                                           : nullptr;
}

void PelmarImageContainerViewController::scrollViewDidZoom(ui::ScrollView&) {
    animator_->removeAllBehaviors();
    centerScrollViewContents();
}

void PelmarImageContainerViewController::recenterImageOriginOrZoomToPoint(ui::Point location) {
    if (scrollView_->zoomScale() != scrollView_->maximumZoomScale()) {
        scrollView_->zoom({location.x, location.y, 1, 1}, true);
    } else {
        scrollView_->setZoomScale(scrollView_->minimumZoomScale(), true);
    }
}

bool PelmarImageContainerViewController::gestureRecognizerShouldBegin(
        ui::GestureRecognizer& recognizer) {
    if (&recognizer != pan_.get()) {
        return true;
    }
    const ui::Point velocity = pan_->velocity(scrollView_.get());
    return std::abs(velocity.y) > std::abs(velocity.x);
}

void PelmarImageContainerViewController::handleDragBegan(ui::Point inScrollView,
                                                         ui::Point inAssetView) {
    animator_->removeAllBehaviors();
    const ui::Rect bounds = assetView_->bounds();
    const ui::Point offset{inAssetView.x - (bounds.x + bounds.width / 2),
                           inAssetView.y - (bounds.y + bounds.height / 2)};
    imgAttatchment_ = ui::DynamicBehavior::attachment(assetView_, offset, inScrollView);
    animator_->addBehavior(imgAttatchment_);
}

void PelmarImageContainerViewController::handleDragChanged(ui::Point inScrollView) {
    if (imgAttatchment_) {
        imgAttatchment_->anchor = inScrollView;
    }
}

void PelmarImageContainerViewController::handleDragEnded(ui::Point inPage) {
    const ui::Rect bounds = view()->bounds();
    const double band = kThrowBand * bounds.height;
    const ui::Rect top{0, 0, bounds.width, band};
    const ui::Rect bottom{0, bounds.height - band, bounds.width, band};
    const bool upward = top.contains(inPage);
    if (!upward && !bottom.contains(inPage)) {
        scrollView_->setZoomScale(scrollView_->minimumZoomScale(), true);
        const ui::Rect scroll = scrollView_->bounds();
        animator_->addBehavior(ui::DynamicBehavior::snap(
                assetView_, {scroll.x + scroll.width / 2, scroll.y + scroll.height / 2}));
        return;
    }
    animator_->removeAllBehaviors();
    assetView_->setUserInteractionEnabled(false);
    scrollView_->setUserInteractionEnabled(false);
    auto gravity = ui::DynamicBehavior::gravity(assetView_);
    gravity->magnitude = 15;
    if (upward) {
        gravity->gravityDirection = {0, -1};
    }
    animator_->addBehavior(gravity);
    auto weak = weakSelf();
    auto assetView = assetView_;
    ui::View::animate(
            0.25, [assetView] { assetView->setAlpha(0.25); },
            [weak, assetView](bool) {
                assetView->setAlpha(0);
                if (weak.lock()) {
                    foundation::NotificationCenter::defaultCenter().post(
                            NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING);
                }
            });
}

void PelmarImageContainerViewController::presentActivityController() {
    const bool live = assetType_ == PelmarImageAssetType::LivePhoto;
    // This platform's share sheet takes pictures: a live photo is shared as its still.
    const PelmarImage item = live ? (liveImgLoaded_ ? liveImgLoaded_->still : nullptr) : imgLoaded_;
    if (!item) {
        return;
    }
    auto sheet = std::make_shared<ui::ActivityViewController>(
            std::vector<std::shared_ptr<const ui::Image>>{ui::Image::fromBitmap(item)});
    if (ui::Device::current().userInterfaceIdiom() != ui::UserInterfaceIdiom::Phone) {
        // Larger screens show the sheet as a popover pointing at what was pressed.
        sheet->setModalPresentationStyle(ui::ModalPresentationStyle::Popover);
        sheet->setPreferredContentSize(kSharePopoverSize);
        sheet->setPopoverSourceView(assetView_);
        if (live) {
            if (auto button = shareBarButtonItem_ ? shareBarButtonItem_->view() : nullptr) {
                sheet->setPopoverSourceView(button);
            }
        } else if (longPress_ && assetView_) {
            const ui::Point at = longPress_->location(assetView_.get());
            sheet->setPopoverSourceRect(ui::Rect{at.x, at.y, 1, 1});
        }
    }
    present(sheet, true);
}

void PelmarImageContainerViewController::dismissImageViewer() {
    foundation::NotificationCenter::defaultCenter().post(NOTE_VC_SHOULD_DISMISS);
}

void PelmarImageContainerViewController::handlePop() {
    if (assetView_) {
        assetView_->layer()->setCornerRadius(0);
    }
}

void PelmarImageContainerViewController::showError() {
    errorPending_ = true;
    presentErrorIfVisible();
}

void PelmarImageContainerViewController::presentErrorIfVisible() {
    // An alert asked for before the page is on screen waits for it.
    if (!errorPending_ || !appeared_ || !view()->window()) {
        return;
    }
    errorPending_ = false;
    auto alert = std::make_shared<ui::AlertController>(std::string(ERROR_TITLE),
                                                       std::string(ERROR_MESSAGE));
    alert->addAction(
            {std::string(GENERAL_OK), ui::AlertAction::Style::Default, [](const ui::AlertAction&) {
                 foundation::NotificationCenter::defaultCenter().post(NOTE_IMG_FAILED);
             }});
    present(alert, true);
}

}  // namespace pelmar
