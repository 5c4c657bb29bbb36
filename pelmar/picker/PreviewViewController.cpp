#include "pelmar/picker/PreviewViewController.h"

#include <cmath>

#include "pelmar/picker/ImageViewLayout.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/NavigationItem.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

namespace {

constexpr double kFullscreenSeconds = 0.3;

ui::Color black() {
    return ui::Color::black();
}

// The mark that tells a live photo, drawn to lie over the picture.
constexpr const char* kLiveBadgeImage = "live-photo-badge";

// The root view of a preview: whenever it is laid out (its size changed), its controller lays out
// the content to fill it.
class PreviewRootView : public ui::View {
public:
    explicit PreviewRootView(std::weak_ptr<PreviewViewController> owner)
        : owner_(std::move(owner)) {}

    void layoutSubviews() override {
        if (auto owner = owner_.lock()) {
            owner->viewDidLayoutSubviews();
        }
    }

private:
    std::weak_ptr<PreviewViewController> owner_;
};

ui::Rect sized(ui::Rect frame) {
    return {0, 0, frame.width, frame.height};
}

}  // namespace

PreviewViewController::PreviewViewController()
    : imageManager_(photos::ImageManager::defaultManager()),
      imageView_(std::make_shared<ui::ImageView>()),
      scrollView_(std::make_shared<ui::ScrollView>()),
      titleLabel_(std::make_shared<ui::Label>()) {}

std::shared_ptr<PreviewViewController> PreviewViewController::create() {
    auto preview = std::shared_ptr<PreviewViewController>(new PreviewViewController());
    preview->setUp();
    return preview;
}

void PreviewViewController::setUp() {
    auto root = view();  // runs viewDidLoad first, as the screen's own set-up expects
    scrollView_->setFrame(root->bounds());
    scrollView_->setDelegate(std::dynamic_pointer_cast<PreviewViewController>(shared_from_this()));
    scrollView_->setZoomScaleLimits(1.0, 3.0);
    root->addSubview(scrollView_);
    imageView_->setFrame(scrollView_->bounds());
    imageView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    scrollView_->addSubview(imageView_);
    std::weak_ptr<PreviewViewController> weak =
            std::dynamic_pointer_cast<PreviewViewController>(shared_from_this());
    doubleTap_ = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer& r) {
        if (auto self = weak.lock()) {
            self->didDoubleTap(r.location(self->view().get()));
        }
    });
    doubleTap_->setNumberOfTapsRequired(2);
    singleTap_ = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer&) {
        if (auto self = weak.lock()) {
            self->didSingleTap();
        }
    });
    singleTap_->requireToFail(doubleTap_);
    root->addGestureRecognizer(singleTap_);
    root->addGestureRecognizer(doubleTap_);
}

void PreviewViewController::loadView() {
    setView(std::make_shared<PreviewRootView>(
            std::dynamic_pointer_cast<PreviewViewController>(shared_from_this())));
}

void PreviewViewController::viewDidLayoutSubviews() {
    const ui::Rect area = sized(view()->bounds());
    if (scrollView_->frame() == area) {
        return;
    }
    scrollView_->setFrame(area);
    if (scrollView_->zoomScale() <= 1.0) {
        imageView_->setFrame(area);
        scrollView_->setContentSize({area.width, area.height});
    }
}

void PreviewViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    view()->layoutIfNeeded();
}

void PreviewViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    updateBackgroundColor();
    titleLabel_->setNumberOfLines(0);
    titleLabel_->setLineBreakMode(ui::LineBreakMode::ByClipping);
    titleLabel_->setTextAlignment(ui::TextAlignment::Center);
    navigationItem()->setTitleView(titleLabel_);
}

void PreviewViewController::setAsset(photos::AssetPtr asset) {
    asset_ = std::move(asset);
    updateNavigationTitle();
    if (!asset_) {
        imageView_->setImage(nullptr);
        return;
    }
    const photos::ImageRequestOptions options = settings_->fetch()->preview()->photoOptions();
    std::weak_ptr<PreviewViewController> weak =
            std::dynamic_pointer_cast<PreviewViewController>(shared_from_this());
    imageManager_->requestImage(
            asset_, {double(asset_->pixelWidth()), double(asset_->pixelHeight())},
            photos::ImageContentMode::AspectFit, options,
            [weak](std::shared_ptr<image::Bitmap> bitmap, const photos::ImageResultInfo&) {
                auto self = weak.lock();
                if (self && bitmap) {
                    self->imageView_->setImage(ui::Image::fromBitmap(std::move(bitmap)));
                }
            });
}

void PreviewViewController::updateNavigationTitle() {
    if (!asset_) {
        return;
    }
    std::weak_ptr<PreviewViewController> weak =
            std::dynamic_pointer_cast<PreviewViewController>(shared_from_this());
    PreviewTitleBuilder::titleFor(*asset_, settings_->theme(), [weak](AttributedText text) {
        if (auto self = weak.lock()) {
            self->title_ = text;
            std::vector<ui::TextRun> runs;
            for (const auto& [piece, attributes] : text.runs) {
                runs.push_back({piece, attributes.font, attributes.foregroundColor});
            }
            self->titleLabel_->setAttributedText(std::move(runs));
            self->titleLabel_->sizeToFit();
            // A bar that shows the title already centres it again.
            if (auto bar = self->titleLabel_->superview()) {
                bar->setNeedsLayout();
                bar->layoutIfNeeded();
            }
        }
    });
}

void PreviewViewController::setFullscreen(bool fullscreen) {
    if (fullscreen == fullscreen_) {
        return;
    }
    fullscreen_ = fullscreen;
    std::weak_ptr<PreviewViewController> weak =
            std::dynamic_pointer_cast<PreviewViewController>(shared_from_this());
    ui::View::animate(kFullscreenSeconds, [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (auto navigation = self->navigationController()) {
            navigation->setNavigationBarHidden(self->fullscreen_);
        }
        self->updateBackgroundColor();
    });
}

void PreviewViewController::updateBackgroundColor() {
    const bool black =
            fullscreen_ && modalPresentationStyle() == ui::ModalPresentationStyle::FullScreen;
    view()->layer()->setBackgroundColor(black ? pelmar::black()
                                              : PickerColors::systemBackgroundColor());
}

void PreviewViewController::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    setFullscreen(false);
}

void PreviewViewController::didSingleTap() {
    toggleFullscreen();
}

void PreviewViewController::didDoubleTap(ui::Point point) {
    if (scrollView_->zoomScale() > 1.0) {
        scrollView_->setZoomScale(1.0, true);
        return;
    }
    scrollView_->zoom(zoomRect(2.0, point), true);
}

ui::Rect PreviewViewController::zoomRect(double scale, ui::Point center) {
    auto zooming = viewForZooming(*scrollView_);
    if (!zooming) {
        return {};
    }
    const ui::Point c = zooming->convertTo(center, scrollView_.get());
    const double width = zooming->frame().width / scale;
    const double height = zooming->frame().height / scale;
    return {c.x - width / 2, c.y - height / 2, width, height};
}

std::shared_ptr<ui::View> PreviewViewController::viewForZooming(ui::ScrollView&) {
    return imageView_;
}

void PreviewViewController::scrollViewDidZoom(ui::ScrollView& scrollView) {
    if (scrollView.zoomScale() <= 1.0) {
        scrollView.setContentInset({});
        return;
    }
    setFullscreen(true);
    auto zooming = viewForZooming(scrollView);
    const auto image = imageView_->image();
    if (!zooming || !image || image->width() <= 0 || image->height() <= 0) {
        return;
    }
    const ui::Rect z = zooming->frame();
    const double ratio = std::min(z.width / image->width(), z.height / image->height());
    const double fittedWidth = image->width() * ratio;
    const double fittedHeight = image->height() * ratio;
    const double scale = scrollView.zoomScale();
    const double horizontal = fittedWidth * scale > z.width
                                      ? fittedWidth - z.width
                                      : scrollView.frame().width - scrollView.contentSize().width;
    const double vertical = fittedHeight * scale > z.height
                                    ? fittedHeight - z.height
                                    : scrollView.frame().height - scrollView.contentSize().height;
    scrollView.setContentInset({std::round(vertical / 2), std::round(horizontal / 2),
                                std::round(vertical / 2), std::round(horizontal / 2)});
}

VideoPreviewViewController::VideoPreviewViewController()
    : playerView_(std::make_shared<av::PlayerView>()) {}

std::shared_ptr<VideoPreviewViewController> VideoPreviewViewController::create() {
    auto preview = std::shared_ptr<VideoPreviewViewController>(new VideoPreviewViewController());
    preview->setUp();
    // The movie is not zoomed: the double tap is off for good.
    preview->doubleTap_->setEnabled(false);
    return preview;
}

void VideoPreviewViewController::viewDidLoad() {
    PreviewViewController::viewDidLoad();
    try {
        av::AudioSession::shared().setCategory(av::AudioSessionCategory::playback);
    } catch (const std::exception&) {
        // Playback goes on with whatever category the session has.
    }
    std::weak_ptr<VideoPreviewViewController> weak =
            std::dynamic_pointer_cast<VideoPreviewViewController>(shared_from_this());
    pauseBarButton_ =
            std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::SystemItem::Pause, [weak] {
                if (auto self = weak.lock()) {
                    self->pausePressed();
                }
            });
    playBarButton_ =
            std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::SystemItem::Play, [weak] {
                if (auto self = weak.lock()) {
                    self->playPressed();
                }
            });
    auto root = view();
    playerView_->setFrame(root->bounds());
    // Added before the scroll view, so it lies below it until the screen has appeared.
    root->addSubview(playerView_);
    scrollView_->setUserInteractionEnabled(false);
}

void VideoPreviewViewController::viewDidLayoutSubviews() {
    PreviewViewController::viewDidLayoutSubviews();
    playerView_->setFrame(sized(view()->bounds()));
}

void VideoPreviewViewController::setAsset(photos::AssetPtr asset) {
    PreviewViewController::setAsset(asset);
    if (!asset || asset->mediaType() != photos::AssetMediaType::Video) {
        movie_.reset();
        player_.reset();
        return;
    }
    std::weak_ptr<VideoPreviewViewController> weak =
            std::dynamic_pointer_cast<VideoPreviewViewController>(shared_from_this());
    const auto options = settings_->fetch()->preview()->videoOptions();
    imageManager_->requestAVAsset(
            asset, options, [weak](std::optional<std::filesystem::path> file) {
                if (!file) {
                    return;
                }
                dispatch::Queue::main()->async([weak, file] {
                    auto self = weak.lock();
                    if (!self) {
                        return;
                    }
                    self->movie_ = file;
                    self->setPlayer(std::make_shared<av::Player>(file->string()));
                    self->navigationItem()->setRightBarButtonItems({self->pauseBarButton_});
                    self->player_->play();
                });
            });
}

void VideoPreviewViewController::setPlayer(std::shared_ptr<av::Player> player) {
    player_ = std::move(player);
    if (!player_) {
        return;
    }
    playerView_->setPlayer(player_);
    std::weak_ptr<VideoPreviewViewController> weak =
            std::dynamic_pointer_cast<VideoPreviewViewController>(shared_from_this());
    endObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(av::kPlayerItemDidPlayToEndTimeNotification), player_->currentItem(),
            [weak] {
                if (auto self = weak.lock()) {
                    self->reachedEnd();
                }
            });
}

std::optional<VideoPreviewViewController::State> VideoPreviewViewController::state() const {
    auto item = const_cast<VideoPreviewViewController*>(this)->navigationItem();
    const auto& right = item->rightBarButtonItems();
    if (right.empty()) {
        return std::nullopt;
    }
    return right.front() == pauseBarButton_ ? State::Playing : State::Paused;
}

void VideoPreviewViewController::playPressed() {
    if (player_) {
        auto item = player_->currentItem();
        if (item && player_->currentTime() == item->duration()) {
            player_->seek(media::Time::zero());
        }
    }
    navigationItem()->setRightBarButtonItems({pauseBarButton_});
    if (player_) {
        player_->play();
    }
}

void VideoPreviewViewController::pausePressed() {
    navigationItem()->setRightBarButtonItems({playBarButton_});
    if (player_) {
        player_->pause();
    }
}

void VideoPreviewViewController::reachedEnd() {
    if (player_) {
        player_->seek(media::Time::zero());
    }
    navigationItem()->setRightBarButtonItems({playBarButton_});
    if (player_) {
        player_->pause();
    }
}

void VideoPreviewViewController::viewWillAppear(bool animated) {
    PreviewViewController::viewWillAppear(animated);
    playerView_->setHidden(true);
}

void VideoPreviewViewController::viewDidAppear(bool animated) {
    PreviewViewController::viewDidAppear(animated);
    playerView_->setHidden(false);
    // The movie covers the still from now on.
    view()->insertSubview(scrollView_, 0);
}

void VideoPreviewViewController::viewWillDisappear(bool animated) {
    PreviewViewController::viewWillDisappear(animated);
    navigationItem()->setRightBarButtonItems({playBarButton_});
    if (player_) {
        player_->pause();
    }
    playerView_->setHidden(true);
    endObserver_.reset();
}

std::shared_ptr<LivePreviewViewController> LivePreviewViewController::create() {
    auto preview = std::shared_ptr<LivePreviewViewController>(new LivePreviewViewController());
    preview->setUp();
    return preview;
}

void LivePreviewViewController::viewDidLoad() {
    PreviewViewController::viewDidLoad();
    livePhotoView_ = photos::LivePhotoView::create();
    livePhotoView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    livePhotoView_->setDelegate(
            std::dynamic_pointer_cast<LivePreviewViewController>(shared_from_this()));
    scrollView_->addSubview(livePhotoView_);
    badgeView_ = std::make_shared<ui::ImageView>();
    // Sized to fit its picture.
    const auto badge = ui::Image::named(kLiveBadgeImage);
    badgeView_->setImage(badge);
    badgeView_->setFrame({0, 0, badge ? badge->width() : 0, badge ? badge->height() : 0});
    livePhotoView_->addSubview(badgeView_);
}

void LivePreviewViewController::viewDidLayoutSubviews() {
    PreviewViewController::viewDidLayoutSubviews();
    if (scrollView_->zoomScale() <= 1.0) {
        livePhotoView_->setFrame(sized(scrollView_->bounds()));
    }
    positionBadgeView();
}

void LivePreviewViewController::setAsset(photos::AssetPtr asset) {
    PreviewViewController::setAsset(asset);
    if (!asset) {
        return;
    }
    livePhotoView_->setFrame(scrollView_->bounds());
    const auto size = resize({livePhotoView_->frame().width, livePhotoView_->frame().height},
                             ui::Screen::main().scale());
    std::weak_ptr<LivePreviewViewController> weak =
            std::dynamic_pointer_cast<LivePreviewViewController>(shared_from_this());
    const photos::LivePhotoRequestOptions options =
            settings_->fetch()->preview()->livePhotoOptions();
    imageManager_->requestLivePhoto(asset, {size.width, size.height},
                                    photos::ImageContentMode::AspectFit, options,
                                    [weak](std::optional<photos::LivePhoto> live) {
                                        auto self = weak.lock();
                                        if (!self || !live) {
                                            return;
                                        }
                                        self->livePhoto_ = live;
                                        self->livePhotoView_->setLivePhoto(live);
                                        self->positionBadgeView();
                                    });
}

void LivePreviewViewController::positionBadgeView() {
    const ui::Rect badge = badgeView_->frame();
    if (!livePhoto_) {
        badgeView_->setFrame({0, 0, badge.width, badge.height});
        return;
    }
    const ui::Rect frame = livePhotoView_->frame();
    const ui::Rect fitted = ImageViewLayout::frameForImage(
            {livePhoto_->size.width, livePhoto_->size.height}, {}, {frame.width, frame.height},
            ui::ContentMode::ScaleAspectFit);
    badgeView_->setFrame({fitted.x, fitted.y, badge.width, badge.height});
}

void LivePreviewViewController::setFullscreen(bool fullscreen) {
    PreviewViewController::setFullscreen(fullscreen);
    std::weak_ptr<ui::View> badge = badgeView_;
    ui::View::animate(kFullscreenSeconds, [badge, fullscreen] {
        if (auto b = badge.lock()) {
            b->setAlpha(fullscreen ? 0 : 1);
        }
    });
}

void LivePreviewViewController::livePhotoViewWillBeginPlayback(photos::LivePhotoView&) {
    if (!fullscreen_) {
        ui::View::animate(kFullscreenSeconds, [badge = badgeView_] { badge->setAlpha(0); });
    }
}

void LivePreviewViewController::livePhotoViewDidEndPlayback(photos::LivePhotoView&) {
    if (!fullscreen_) {
        ui::View::animate(kFullscreenSeconds, [badge = badgeView_] { badge->setAlpha(1); });
    }
}

void LivePreviewViewController::viewDidAppear(bool animated) {
    PreviewViewController::viewDidAppear(animated);
    imageView_->setHidden(true);
}

std::shared_ptr<ui::View> LivePreviewViewController::viewForZooming(ui::ScrollView&) {
    return livePhotoView_;
}

std::shared_ptr<PreviewViewController> PreviewBuilder::createPreviewController(
        const photos::AssetPtr& asset, const std::shared_ptr<Settings>& settings) {
    std::shared_ptr<PreviewViewController> preview;
    if (asset && asset->mediaType() == photos::AssetMediaType::Image
        && asset->mediaSubtypes() == photos::kAssetMediaSubtypePhotoLive) {
        preview = LivePreviewViewController::create();
    } else if (asset && asset->mediaType() == photos::AssetMediaType::Video) {
        preview = VideoPreviewViewController::create();
    } else {
        preview = PreviewViewController::create();
    }
    preview->setSettings(settings);
    preview->setAsset(asset);
    return preview;
}

}  // namespace pelmar
