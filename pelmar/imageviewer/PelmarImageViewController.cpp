#include "pelmar/imageviewer/PelmarImageViewController.h"

#include <cmath>

#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/imageviewer/internal/LayoutReportingView.h"
#include "pelmar/imageviewer/internal/ViewerLocalizations.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"

namespace pelmar {

PelmarImageViewController::PelmarImageViewController(std::vector<PelmarImageSource> images)
    : images_(std::move(images)), parallaxView_(std::make_shared<ui::View>()) {
    setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
}

std::shared_ptr<PelmarImageViewController> PelmarImageViewController::initForPeekWithImageSource(
        std::vector<PelmarImageSource> images) {
    auto viewer = std::make_shared<PelmarImageViewController>(std::move(images));
    viewer->usedFor3DTouch = true;
    return viewer;
}

std::weak_ptr<PelmarImageViewController> PelmarImageViewController::weakSelf() {
    return std::static_pointer_cast<PelmarImageViewController>(shared_from_this());
}

void PelmarImageViewController::loadView() {
    auto weak = weakSelf();
    setView(std::make_shared<imageviewer::internal::LayoutReportingView>([weak] {
        if (auto self = weak.lock()) {
            self->viewDidLayoutSubviews();
        }
    }));
}

void PelmarImageViewController::viewDidLayoutSubviews() {
    layoutPager();
}

void PelmarImageViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->layer()->setBackgroundColor(useTransparentBackground ? ui::Color::clear()
                                                                 : ui::Color::black());
    reinitializeUI();
    registerNotifications();
}

void PelmarImageViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    hideStatusBar_ = true;
    auto weak = weakSelf();
    ui::View::animate(0.1, [weak] {
        if (auto self = weak.lock()) {
            self->setNeedsStatusBarAppearanceUpdate();
        }
    });
    layoutPager();
}

void PelmarImageViewController::setNeedsStatusBarAppearanceUpdate() {
    statusBarHidden_ = prefersStatusBarHidden();
}

void PelmarImageViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    layoutPager();
}

void PelmarImageViewController::layoutPager() {
    // The presentation sizes the view after it loaded: the pager and its page follow.
    if (pagerVC_) {
        pagerVC_->view()->setFrame(view()->bounds());
        pagerVC_->layoutPages();
        ui::Rect strip = parallaxView_->frame();
        strip.height = view()->bounds().height;
        parallaxView_->setFrame(strip);
        if (!pagerVC_->viewControllers().empty()) {
            if (auto page = std::dynamic_pointer_cast<PelmarImageContainerViewController>(
                        pagerVC_->viewControllers().front())) {
                page->layoutForCurrentBounds();
            }
        }
    }
    updateChromeFrames();
}

std::optional<std::string> PelmarImageViewController::closeButtonLabel(
        const std::filesystem::path& appResources, const std::vector<std::string>& languages) {
    auto strings = imageviewer::internal::ViewerLocalizations::find(appResources, languages);
    if (!strings) {
        return std::nullopt;
    }
    return strings->localizedString(kCloseButtonTextKey, "");
}

bool PelmarImageViewController::prefersStatusBarHidden() const {
    auto presenter = presentingViewController();
    return (presenter && presenter->prefersStatusBarHidden()) || hideStatusBar_;
}

void PelmarImageViewController::setImageSource(std::vector<PelmarImageSource> images) {
    images_ = std::move(images);
    if (isViewLoaded()) {
        reinitializeUI();
    }
}

void PelmarImageViewController::reinitializeUI() {
    if (startingIndex < 0 || startingIndex >= static_cast<std::ptrdiff_t>(images_.size())) {
        startingIndex = 0;
    }
    if (!uiBuilt_) {
        uiBuilt_ = true;
        if (!pagerVC_) {
            pagerVC_ = std::make_shared<ui::PageViewController>(
                    ui::PageViewController::TransitionStyle::Scroll,
                    ui::PageViewController::NavigationOrientation::Horizontal);
        }
        addChild(pagerVC_);
        pagerVC_->view()->setFrame(view()->bounds());
        view()->addSubview(pagerVC_->view());
        pagerVC_->didMove(this);
        auto scroll = pagerVC_->scrollView();
        scroll->setDelegate(weakSelf());
        parallaxView_->layer()->setBackgroundColor(view()->layer()->backgroundColor());
        parallaxView_->setHidden(true);
        scroll->addSubview(parallaxView_);
        parallaxView_->setFrame({0, 0, kParallaxWidth, view()->bounds().height});
        if (!usedFor3DTouch) {
            addChromeToUI();
        }
    }
    imageViewControllers_.clear();
    for (const auto& source : images_) {
        auto page = std::make_shared<PelmarImageContainerViewController>();
        page->imgSrc = source;
        page->pageIndex = static_cast<std::size_t>(startingIndex);
        page->usedFor3DTouch = usedFor3DTouch;
        page->useTransparentBackground = useTransparentBackground;
        page->disableSharingLongPress = disableSharingLongPress;
        page->disableAutoplayForLivePhoto = disableAutoplayForLivePhoto;
        page->disableHorizontalDrag = images_.size() > 1;
        page->imageMaxScale = maxScale;
        imageViewControllers_.push_back(page);
    }
    if (imageViewControllers_.size() > 1) {
        pagerVC_->setDataSource(weakSelf());
    } else {
        pagerVC_->setDataSource({});
    }
    if (!imageViewControllers_.empty()) {
        pagerVC_->setViewControllers(
                {imageViewControllers_[static_cast<std::size_t>(startingIndex)]},
                ui::PageViewController::NavigationDirection::Forward, false);
    }
}

void PelmarImageViewController::addChromeToUI() {
    if (!enableDoneButton) {
        return;
    }
    // One close button, brought back to the front when asked for again.
    if (!doneButton_) {
        doneButton_ = std::make_shared<ui::Button>();
        doneButton_->setImage(ui::Image::named("xmark"), ui::ControlState::Normal);
        doneButton_->setTintColor(ui::Color::white());
        doneButton_->setAccessibilityLabel(
                closeButtonLabel(imageviewer::internal::ViewerLocalizations::mainBundleFolder(),
                                 imageviewer::internal::ViewerLocalizations::preferredLanguages()));
        std::weak_ptr<PelmarImageViewController> weak = weakSelf();
        doneButton_->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
            if (auto self = weak.lock()) {
                self->handleDoneAction();
            }
        });
    }
    view()->addSubview(doneButton_);
    view()->bringSubviewToFront(doneButton_);
    updateChromeFrames();
}

void PelmarImageViewController::updateChromeFrames() {
    if (enableDoneButton && doneButton_) {
        const ui::Rect bounds = view()->frame();
        const double x = showDoneButtonOnLeft ? 20 : bounds.x + bounds.width - 37;
        const double top = view()->safeAreaInsets().top;
        doneButton_->setFrame({x, top > 0 ? top : 20, 17, 17});
    }
    parallaxView_->setHidden(true);
}

void PelmarImageViewController::registerNotifications() {
    auto weak = weakSelf();
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto on = [&](std::string_view name, std::function<void(PelmarImageViewController&)> f) {
        observers_.push_back(center.addObserver(std::string(name), [weak, f] {
            if (auto self = weak.lock()) {
                f(*self);
            }
        }));
    };
    on(NOTE_VC_SHOULD_DISMISS, [](PelmarImageViewController& v) { v.dismiss(); });
    on(NOTE_IMG_FAILED, [](PelmarImageViewController& v) { v.dismiss(); });
    on(NOTE_VC_POPPED, [](PelmarImageViewController& v) { v.handlePop(); });
    on(NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING,
       [](PelmarImageViewController& v) { v.dismissWithoutCustomAnimation(); });
    on(app::AppLifecycle::kDidReceiveMemoryWarningNotification, [](PelmarImageViewController& v) {
        foundation::Log::write("PelmarImageViewer: Dismissing due to memory warning.");
        v.ui::ViewController::dismiss(true);
    });
}

std::ptrdiff_t PelmarImageViewController::currentIndex() const {
    if (!pagerVC_ || pagerVC_->viewControllers().empty()) {
        return 0;
    }
    auto page = std::dynamic_pointer_cast<PelmarImageContainerViewController>(
            pagerVC_->viewControllers().front());
    return page ? static_cast<std::ptrdiff_t>(page->pageIndex) : 0;
}

void PelmarImageViewController::dismiss(std::function<void()> completion) {
    if (startingIndex == currentIndex()) {
        modalTransitionStyle_ = PelmarModalTransitionStyle::CrossDissolve;
        ui::ViewController::dismiss(true, std::move(completion));
    } else {
        dismissWithoutCustomAnimation(std::move(completion));
    }
}

void PelmarImageViewController::dismissWithoutCustomAnimation(std::function<void()> completion) {
    foundation::NotificationCenter::defaultCenter().post(NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION,
                                                         std::make_shared<const int64_t>(1));
    modalTransitionStyle_ = PelmarModalTransitionStyle::CrossDissolve;
    ui::ViewController::dismiss(true, std::move(completion));
}

void PelmarImageViewController::handleDoneAction() {
    dismiss();
}

void PelmarImageViewController::handlePop() {
    view()->layer()->setBackgroundColor(ui::Color::black());
    addChromeToUI();
}

void PelmarImageViewController::updateParallaxViewFrame(ui::ScrollView& scrollView) {
    const ui::Rect bounds = scrollView.bounds();
    const double width = bounds.width;
    if (width <= 0) {
        return;
    }
    const float page = std::floor(static_cast<float>(bounds.x) / static_cast<float>(width));
    const double fraction = (bounds.x - page * width) / width;
    ui::Rect frame = parallaxView_->frame();
    frame.x = width * (page + 1) - fraction * frame.width;
    parallaxView_->setFrame(frame);
}

std::shared_ptr<ui::ViewController> PelmarImageViewController::viewControllerBefore(
        ui::PageViewController&, const std::shared_ptr<ui::ViewController>& viewController) {
    auto page = std::dynamic_pointer_cast<PelmarImageContainerViewController>(viewController);
    if (!page || page->pageIndex == 0 || page->pageIndex > imageViewControllers_.size()) {
        return nullptr;
    }
    auto before = imageViewControllers_[page->pageIndex - 1];
    before->pageIndex = page->pageIndex - 1;
    return before;
}

std::shared_ptr<ui::ViewController> PelmarImageViewController::viewControllerAfter(
        ui::PageViewController&, const std::shared_ptr<ui::ViewController>& viewController) {
    auto page = std::dynamic_pointer_cast<PelmarImageContainerViewController>(viewController);
    if (!page || page->pageIndex + 1 >= imageViewControllers_.size()) {
        return nullptr;
    }
    auto after = imageViewControllers_[page->pageIndex + 1];
    after->pageIndex = page->pageIndex + 1;
    return after;
}

void PelmarImageViewController::scrollViewWillBeginDragging(ui::ScrollView&) {
    parallaxView_->setHidden(false);
}

void PelmarImageViewController::scrollViewDidScroll(ui::ScrollView& scrollView) {
    updateParallaxViewFrame(scrollView);
}

}  // namespace pelmar
