#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "pelmar/picker/PreviewTitleBuilder.h"
#include "pelmar/picker/Settings.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/photos/ui/LivePhotoView.h"
#include "pelmar/platform/ui/BarButtonItem.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

// PreviewViewController: a full-screen preview of one library picture: zoomable (1x to 3x) in a
// scroll view, a single tap toggles full screen (bars hidden, black background when presented
// full screen), a double tap zooms to 2x about the point or back to 1x, and a two-line title.
// Make it with create() (or PreviewBuilder), then set settings before the asset.
// Ownership: reference object; the picker's navigation stack holds it; every asynchronous answer
// holds it weakly.
// Threads: main thread only.
// Errors: none; answers without a picture leave the screen as it was.
class PreviewViewController : public ui::ViewController, public ui::ScrollViewDelegate {
public:
    static std::shared_ptr<PreviewViewController> create();

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }

    photos::AssetPtr asset() const { return asset_; }

    virtual void setAsset(photos::AssetPtr asset);

    bool fullscreen() const { return fullscreen_; }

    virtual void setFullscreen(bool fullscreen);

    void toggleFullscreen() { setFullscreen(!fullscreen_); }

    const std::shared_ptr<ui::ImageView>& imageView() const { return imageView_; }

    const std::shared_ptr<ui::ScrollView>& scrollView() const { return scrollView_; }

    const std::shared_ptr<ui::Label>& titleLabel() const { return titleLabel_; }

    const AttributedText& title() const { return title_; }

    const std::shared_ptr<ui::TapGestureRecognizer>& singleTapRecognizer() const {
        return singleTap_;
    }

    const std::shared_ptr<ui::TapGestureRecognizer>& doubleTapRecognizer() const {
        return doubleTap_;
    }

    bool prefersStatusBarHidden() const override { return fullscreen_; }

    void didSingleTap();
    // `point` in the root view.
    void didDoubleTap(ui::Point point);

    ui::Rect zoomRect(double scale, ui::Point center);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    // The root view was laid out: the scroll view fills it and, unzoomed, the image view fills the
    // scroll view.
    virtual void viewDidLayoutSubviews();

    std::shared_ptr<ui::View> viewForZooming(ui::ScrollView& scrollView) override;
    void scrollViewDidZoom(ui::ScrollView& scrollView) override;

protected:
    PreviewViewController();

    // Loads the view and builds the scroll view, image view and recognisers (creation steps).
    void setUp();

    void updateBackgroundColor();
    void updateNavigationTitle();

    std::shared_ptr<photos::ImageManager> imageManager_;
    std::shared_ptr<Settings> settings_;
    photos::AssetPtr asset_;
    std::shared_ptr<ui::ImageView> imageView_;
    bool fullscreen_ = false;
    std::shared_ptr<ui::ScrollView> scrollView_;
    std::shared_ptr<ui::TapGestureRecognizer> singleTap_;
    std::shared_ptr<ui::TapGestureRecognizer> doubleTap_;
    std::shared_ptr<ui::Label> titleLabel_;
    AttributedText title_;
};

// VideoPreviewViewController: the preview of a movie: the still first, then the movie's file
// from the library played by a player in a player view under the still; play and pause buttons
// in the bar (the right button carries the state: pause while playing, play while paused). The
// player view is hidden until the screen has appeared and then covers the still. Pinch and
// double-tap zoom are off; a single tap still toggles full screen.
class VideoPreviewViewController : public PreviewViewController {
public:
    enum class State : int { Playing = 0, Paused = 1 };

    static std::shared_ptr<VideoPreviewViewController> create();

    void setAsset(photos::AssetPtr asset) override;

    const std::shared_ptr<ui::BarButtonItem>& playBarButton() const { return playBarButton_; }

    const std::shared_ptr<ui::BarButtonItem>& pauseBarButton() const { return pauseBarButton_; }

    const std::shared_ptr<av::PlayerView>& playerView() const { return playerView_; }

    // Null while the movie has not arrived, and for assets that are not movies.
    const std::shared_ptr<av::Player>& player() const { return player_; }

    // None while the movie has not arrived.
    std::optional<State> state() const;

    const std::optional<std::filesystem::path>& movie() const { return movie_; }

    // Plays on; a movie that stands at its end starts again from the beginning.
    void playPressed();
    void pausePressed();
    // The movie played to its end: rewound and paused.
    void reachedEnd();

    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    VideoPreviewViewController();

    // Shows `player` in the player view and listens for the end of its current item.
    void setPlayer(std::shared_ptr<av::Player> player);

    std::shared_ptr<av::PlayerView> playerView_;
    std::shared_ptr<ui::BarButtonItem> playBarButton_;
    std::shared_ptr<ui::BarButtonItem> pauseBarButton_;
    std::shared_ptr<av::Player> player_;
    foundation::NotificationCenter::Token endObserver_;
    std::optional<std::filesystem::path> movie_;
};

// LivePreviewViewController: the preview of a live photo: the live photo (still and movie) with
// the live badge at the top-left corner of the fitted picture; the badge hides in full screen.
class LivePreviewViewController : public PreviewViewController,
                                  public photos::LivePhotoViewDelegate {
public:
    static std::shared_ptr<LivePreviewViewController> create();

    void setAsset(photos::AssetPtr asset) override;
    void setFullscreen(bool fullscreen) override;

    const std::shared_ptr<photos::LivePhotoView>& livePhotoView() const { return livePhotoView_; }

    const std::shared_ptr<ui::ImageView>& badgeView() const { return badgeView_; }

    const std::optional<photos::LivePhoto>& livePhoto() const { return livePhoto_; }

    void positionBadgeView();

    // The live photo's playback, as the live photo view reports it.
    void livePhotoViewWillBeginPlayback(photos::LivePhotoView& view) override;
    void livePhotoViewDidEndPlayback(photos::LivePhotoView& view) override;

    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewDidAppear(bool animated) override;
    std::shared_ptr<ui::View> viewForZooming(ui::ScrollView& scrollView) override;

private:
    LivePreviewViewController() = default;

    std::shared_ptr<photos::LivePhotoView> livePhotoView_;
    std::shared_ptr<ui::ImageView> badgeView_;
    std::optional<photos::LivePhoto> livePhoto_;
};

// PreviewBuilder: the preview screen for an asset: live photos (exactly the live subtype) get the
// live preview, movies the video preview, everything else the still preview.
struct PreviewBuilder {
    static std::shared_ptr<PreviewViewController> createPreviewController(
            const photos::AssetPtr& asset, const std::shared_ptr<Settings>& settings);
};

}  // namespace pelmar
