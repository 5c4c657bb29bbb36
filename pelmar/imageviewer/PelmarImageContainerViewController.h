#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/imageloader/PelmarAnimatedImageView.h"
#include "pelmar/imageviewer/PelmarImageSource.h"
#include "pelmar/imageviewer/PelmarImageViewerDownloadProgressView.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/DynamicAnimator.h"
#include "pelmar/platform/ui/GestureRecognizer.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

namespace photos {
class LivePhotoView;
}  // namespace photos

namespace ui {
class BarButtonItem;
class ImageView;
class LongPressGestureRecognizer;
class PanGestureRecognizer;
class TapGestureRecognizer;
}  // namespace ui

// What a page shows.
enum class PelmarImageAssetType : unsigned {
    Still = 0,
    Network = 1,
    Animated = 2,
    LivePhoto = 3,
    Error = 4,
};

// PelmarImageContainerViewController: one page of the image viewer. It loads its source by kind
// (at once, through the shared image manager, from a back-loaded source, or from the photo
// library: a still photo decoded whole, a live photo shown with its movie under a press and a
// toolbar with the live badge and a share item), shows it zoomable and aspect-fit in a scroll
// view, and handles the page's gestures: a single tap closes the viewer, a double tap zooms in
// (or back out from the maximum), a long press shares the image (not on a live photo, whose
// toolbar item shares), and a drag that ends in the top or bottom 35 % of the page throws the
// image out and closes the viewer (elsewhere it snaps back). On a phone the share sheet covers
// the page; on a pad it is a 320 x 400 popover pointing at the share item (live photos) or at
// the pressed point. It talks to the viewer only through notifications. A failure shows the
// "Whoops" alert once the page is on screen; its "Ok" posts "ImageLoadingError"; a photo that
// the library cannot give shows an empty page.
// Ownership: made with std::make_shared by the viewer, which owns it (as a page of its pager).
//     The download it starts is cancelled when it goes; blocks and observers hold it weakly.
// Threads: main thread only; download callbacks hop to the main queue.
// Errors: shown to the user (the alert); a failed download is logged as "Error <description>".
class PelmarImageContainerViewController : public ui::ViewController,
                                           public ui::ScrollViewDelegate,
                                           public ui::GestureRecognizerDelegate {
public:
    // The top and bottom bands, as a share of the page's height, where a drag throws the image.
    static constexpr double kThrowBand = 0.35;
    // The share popover's size on larger screens.
    static constexpr ui::Size kSharePopoverSize{320, 400};
    static constexpr double kToolbarHeight = 44;
    // The pictures of the live-photo toolbar.
    static constexpr std::string_view kLiveBadgeImage = "livephoto";
    static constexpr std::string_view kShareItemImage = "square.and.arrow.up";

    PelmarImageContainerViewController() = default;
    ~PelmarImageContainerViewController() override;

    // Set by the viewer before the page loads.
    PelmarImageSource imgSrc;
    std::size_t pageIndex = 0;
    bool usedFor3DTouch = false;
    bool useTransparentBackground = false;
    bool disableSharingLongPress = false;
    bool disableHorizontalDrag = false;
    bool disableAutoplayForLivePhoto = true;
    double imageMaxScale = 0;

    PelmarImageAssetType assetType() const { return assetType_; }

    const std::shared_ptr<ui::ScrollView>& scrollView() const { return scrollView_; }

    // The view showing the image (still or animated); null before one is loaded.
    const std::shared_ptr<PelmarAnimatedImageView>& imgView() const { return imgView_; }

    // The view showing a live photo; null before one is loaded.
    const std::shared_ptr<photos::LivePhotoView>& livePhotoImgView() const {
        return livePhotoImgView_;
    }

    // The live photo view for a live photo, else the image view.
    const std::shared_ptr<ui::View>& activeAssetView() const { return assetView_; }

    const std::optional<photos::LivePhoto>& liveImgLoaded() const { return liveImgLoaded_; }

    // The share item of a live photo's toolbar; null for other kinds.
    const std::shared_ptr<ui::BarButtonItem>& shareBarButtonItem() const {
        return shareBarButtonItem_;
    }

    const std::shared_ptr<ui::View>& livePhotoToolbar() const { return livePhotoToolbar_; }

    const PelmarImage& imgLoaded() const { return imgLoaded_; }

    const std::shared_ptr<PelmarImageViewerDownloadProgressView>& progressView() const {
        return progressView_;
    }

    const std::shared_ptr<ui::DynamicAnimator>& animator() const { return animator_; }

    // Fits the scroll view and the image to the page's bounds (after the page was resized).
    void layoutForCurrentBounds();

    // Gesture handlers (what the recognisers call).
    void recenterImageOriginOrZoomToPoint(ui::Point location);
    void handleDragBegan(ui::Point inScrollView, ui::Point inAssetView);
    void handleDragChanged(ui::Point inScrollView);
    void handleDragEnded(ui::Point inPage);
    void presentActivityController();
    void dismissImageViewer();
    void handlePop();

    // ScrollViewDelegate.
    std::shared_ptr<ui::View> viewForZooming(ui::ScrollView& scrollView) override;
    void scrollViewDidZoom(ui::ScrollView& scrollView) override;

    // GestureRecognizerDelegate: with several pages, a drag begins only vertically.
    bool gestureRecognizerShouldBegin(ui::GestureRecognizer& recognizer) override;

protected:
    // The view tells the page when it is laid out (viewWillLayoutSubviews).
    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    // After every size change: the scroll view, the picture, the ring and the toolbar follow.
    void viewWillLayoutSubviews();

private:
    std::weak_ptr<PelmarImageContainerViewController> weakSelf();
    void createScrollView();
    void createProgressView();
    void centerProgressView();
    void removeProgressView();
    void createActiveAssetView();
    void addImageToScrollView();
    void setMaxMinZoomScalesForCurrentBounds();
    void layoutAssetView();
    void centerScrollViewContents();
    void retrieveImageFromURL(const std::optional<std::string>& url);
    void retrieveImageFromCachedAnimatedImage();
    void retrieveImageFromAsset(const photos::AssetPtr& asset);
    void retrieveLivePhotoFromAsset(const photos::AssetPtr& asset);
    void createLivePhotoChrome();
    void layoutLivePhotoChrome();
    void observeBackLoadedSource(const std::shared_ptr<PelmarBackLoadedImageSource>& source);
    void takeHiResImage(const foundation::Notification& note);
    void showError();
    void presentErrorIfVisible();

    PelmarImageAssetType assetType_ = PelmarImageAssetType::Still;
    std::shared_ptr<ui::ScrollView> scrollView_;
    std::shared_ptr<PelmarAnimatedImageView> imgView_;
    std::shared_ptr<photos::LivePhotoView> livePhotoImgView_;
    std::shared_ptr<ui::View> assetView_;
    std::optional<photos::LivePhoto> liveImgLoaded_;
    std::shared_ptr<ui::BarButtonItem> shareBarButtonItem_;
    std::shared_ptr<ui::View> livePhotoToolbar_;
    std::shared_ptr<ui::LongPressGestureRecognizer> longPress_;
    PelmarImage imgLoaded_;
    std::shared_ptr<PelmarCachedAnimatedImage> animatedImage_;
    std::shared_ptr<PelmarImageViewerDownloadProgressView> progressView_;
    std::shared_ptr<ui::DynamicAnimator> animator_;
    std::shared_ptr<ui::DynamicBehavior> imgAttatchment_;
    std::shared_ptr<ui::PanGestureRecognizer> pan_;
    std::shared_ptr<ui::TapGestureRecognizer> scrollTap_;
    std::optional<std::string> downloadUUID_;
    bool errorPending_ = false;
    bool appeared_ = false;
    foundation::NotificationCenter::Token popped_;
    foundation::NotificationCenter::Token hiRes_;
};

}  // namespace pelmar
