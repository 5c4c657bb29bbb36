#pragma once

#include <memory>

#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/AnimatedTransitioning.h"
#include "pelmar/platform/ui/ContentMode.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/InterfaceOrientation.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/TransitioningDelegate.h"

namespace pelmar {

// PelmarImageTransitionAnimator: a zoom transition between an image on the presenting screen and
// the image viewer: presenting, the image flies from its place to its aspect-fit place in the
// viewer while the viewer fades in; dismissing, it flies back while the screen below fades in.
// After a rotation since the presentation, or after "CancelCustomDismissalTransition" with 1, the
// dismissal only fades. Each finished transition flips between presenting and dismissing. A host
// makes it the viewer's transitioning delegate; nothing in the SDK installs it.
// Ownership: made by create() and held by shared_ptr; holds the image and its container view;
//     its observer holds it weakly.
// Threads: main thread only.
// Errors: none; without animatedImage the transitions run with no flying image.
class PelmarImageTransitionAnimator
    : public ui::AnimatedTransitioning,
      public ui::TransitioningDelegate,
      public std::enable_shared_from_this<PelmarImageTransitionAnimator> {
    struct Private {};

public:
    static std::shared_ptr<PelmarImageTransitionAnimator> create();

    explicit PelmarImageTransitionAnimator(Private);

    bool presenting = true;
    bool dismissWithoutCustomTransition = false;
    std::shared_ptr<ui::View> animatedImageContainer;
    PelmarImage animatedImage;
    ui::ContentMode desiredContentMode = ui::ContentMode::ScaleAspectFill;
    double animationDuration = static_cast<double>(0.23f);
    ui::DeviceOrientation presentedDeviceOrientation = ui::DeviceOrientation::Unknown;
    double presentingViewY = 0;
    ui::Rect imageOriginFrame;

    // The flying image view, cut to its frame: none without animatedImage.
    std::shared_ptr<ui::ImageView> temporaryImageView() const;

    // Where `imageView`'s image sits aspect-fit in `view`'s bounds; zero when not a number.
    static ui::Rect imageFinalFrameDestinationForImageView(const ui::ImageView& imageView,
                                                           const ui::View& view);

    // The view flying in the transition under way (tests look at it).
    const std::shared_ptr<ui::ImageView>& flyingImageView() const { return flying_; }

    // AnimatedTransitioning.
    double transitionDuration(const ui::TransitionContext& context) const override;
    void animateTransition(ui::TransitionContext& context) override;

    // TransitioningDelegate: both directions are animated by this animator.
    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForPresented(
            const std::shared_ptr<ui::ViewController>& presented,
            const std::shared_ptr<ui::ViewController>& presenting) override;
    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForDismissed(
            const std::shared_ptr<ui::ViewController>& dismissed) override;

private:
    void performPresentationAnimation(ui::TransitionContext& context);
    void performDismissingAnimation(ui::TransitionContext& context);

    std::shared_ptr<ui::ImageView> flying_;
    foundation::NotificationCenter::Token cancel_;
};

}  // namespace pelmar
