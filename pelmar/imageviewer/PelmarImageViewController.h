#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/imageviewer/PelmarImageContainerViewController.h"
#include "pelmar/imageviewer/PelmarImageSource.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/PageViewController.h"
#include "pelmar/platform/ui/ScrollView.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

// How the viewer comes and goes when presented or dismissed.
enum class PelmarModalTransitionStyle { CoverVertical, CrossDissolve };

// How the status bar comes and goes when the viewer's preference changes.
enum class PelmarStatusBarAnimation { None, Fade, Slide };

// PelmarImageViewController: the full-screen image viewer: one page per source
// (PelmarImageContainerViewController) in a horizontally paged pager (swipes only with two or
// more pages), a close button, a parallax strip between pages while swiping, and its reactions to
// the pages' notifications: "DismissController" and "ImageLoadingError" close it,
// "DimissUIFromDraggingGesture" closes it without the custom transition, "ViewControllerPopped"
// restores its chrome. A memory warning closes it.
// Ownership: made with std::make_shared; owns its pager and pages; observers hold it weakly.
// Threads: main thread only.
// Errors: none; a starting index outside the sources becomes 0, and no sources give an empty
//     viewer with its close button.
class PelmarImageViewController : public ui::ViewController,
                                  public ui::PageViewControllerDataSource,
                                  public ui::ScrollViewDelegate {
public:
    static constexpr double kParallaxWidth = 40;
    static constexpr std::string_view kCloseButtonTextKey = "imageViewController.closeButton.text";

    // The close button's accessibility label: the host app's text for kCloseButtonTextKey in
    // its viewer localizations among `appResources` (empty when they lack it), for the first of
    // `languages` they have; none without them. The viewer looks in the running program's folder.
    static std::optional<std::string> closeButtonLabel(const std::filesystem::path& appResources,
                                                       const std::vector<std::string>& languages);

    explicit PelmarImageViewController(std::vector<PelmarImageSource> images);

    // A peek preview: no chrome, rounded pages.
    static std::shared_ptr<PelmarImageViewController> initForPeekWithImageSource(
            std::vector<PelmarImageSource> images);

    bool useTransparentBackground = false;
    bool disableSharingLongPress = false;
    bool enableDoneButton = true;
    bool showDoneButtonOnLeft = true;
    bool disableAutoplayForLivePhoto = true;
    bool usedFor3DTouch = false;
    std::ptrdiff_t startingIndex = 0;
    double maxScale = 0;
    // A timer a host may keep here to hide chrome; the viewer neither sets nor reads it.
    std::shared_ptr<dispatch::Timer> timerHideUI;

    bool shouldHideStatusBar() const { return hideStatusBar_; }

    void setHideStatusBar(bool hide) { hideStatusBar_ = hide; }

    // True when the presenting screen (of any kind) prefers the status bar hidden, else
    // shouldHideStatusBar().
    bool prefersStatusBarHidden() const override;

    PelmarStatusBarAnimation preferredStatusBarUpdateAnimation() const {
        return PelmarStatusBarAnimation::Slide;
    }

    // Reads prefersStatusBarHidden() into statusBarHidden(). Appearing sets shouldHideStatusBar()
    // and then asks for this inside a 0.1 s animation.
    void setNeedsStatusBarAppearanceUpdate();

    // Whether the status bar is hidden over the viewer, as last read.
    bool statusBarHidden() const { return statusBarHidden_; }

    bool prefersHomeIndicatorAutoHidden() const { return true; }

    PelmarModalTransitionStyle modalTransitionStyle() const { return modalTransitionStyle_; }

    const std::vector<PelmarImageSource>& images() const { return images_; }

    // Replaces the sources and rebuilds the pages.
    void setImageSource(std::vector<PelmarImageSource> images);

    const std::shared_ptr<ui::PageViewController>& pagerVC() const { return pagerVC_; }

    const std::vector<std::shared_ptr<PelmarImageContainerViewController>>& imageViewControllers()
            const {
        return imageViewControllers_;
    }

    const std::shared_ptr<ui::Button>& doneButton() const { return doneButton_; }

    const std::shared_ptr<ui::View>& parallaxView() const { return parallaxView_; }

    // The pageIndex of the page on screen (0 without pages).
    std::ptrdiff_t currentIndex() const;

    void dismiss(std::function<void()> completion = nullptr);
    void dismissWithoutCustomAnimation(std::function<void()> completion = nullptr);
    void handleDoneAction();
    void handlePop();

    // Places the strip at the seam after the current page, sliding with the scroll.
    void updateParallaxViewFrame(ui::ScrollView& scrollView);

    // PageViewControllerDataSource.
    std::shared_ptr<ui::ViewController> viewControllerBefore(
            ui::PageViewController& pageViewController,
            const std::shared_ptr<ui::ViewController>& viewController) override;
    std::shared_ptr<ui::ViewController> viewControllerAfter(
            ui::PageViewController& pageViewController,
            const std::shared_ptr<ui::ViewController>& viewController) override;

    // ScrollViewDelegate of the pager's scroll view.
    void scrollViewWillBeginDragging(ui::ScrollView& scrollView) override;
    void scrollViewDidScroll(ui::ScrollView& scrollView) override;

protected:
    // The view tells the viewer when it is laid out (viewDidLayoutSubviews).
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    // After every size change (a presentation, a rotation): the pager, its page, the close
    // button and the parallax strip follow the view.
    void viewDidLayoutSubviews();

private:
    std::weak_ptr<PelmarImageViewController> weakSelf();
    void reinitializeUI();
    void layoutPager();
    void addChromeToUI();
    void updateChromeFrames();
    void registerNotifications();

    std::vector<PelmarImageSource> images_;
    bool hideStatusBar_ = false;
    bool statusBarHidden_ = false;
    bool uiBuilt_ = false;
    PelmarModalTransitionStyle modalTransitionStyle_ = PelmarModalTransitionStyle::CrossDissolve;
    std::shared_ptr<ui::PageViewController> pagerVC_;
    std::vector<std::shared_ptr<PelmarImageContainerViewController>> imageViewControllers_;
    std::shared_ptr<ui::Button> doneButton_;
    std::shared_ptr<ui::View> parallaxView_;
    std::vector<foundation::NotificationCenter::Token> observers_;
};

}  // namespace pelmar
