#pragma once

#include <memory>
#include <optional>

#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/AnimatedTransitioning.h"
#include "pelmar/platform/ui/GestureRecognizer.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/PanGestureRecognizer.h"
#include "pelmar/platform/ui/TransitioningDelegate.h"

namespace pelmar {

class ImageView;
class ZoomInteractionController;

// ZoomAnimator: the zoom between a grid cell's thumbnail and a preview's picture (0.25 s): a
// moving picture flies from the source image view's place to the destination's while the
// outgoing screen fades out and the incoming one in. The preview's picture is preferred, the
// thumbnail is the fallback. The source image view stays hidden afterwards (it is shown again as
// the destination of the opposite zoom).
class ZoomAnimator : public ui::AnimatedTransitioning {
public:
    enum class Mode : int { Expand = 0, Shrink = 1 };

    static constexpr double kDuration = 0.25;

    explicit ZoomAnimator(Mode mode) : mode_(mode) {}

    Mode mode() const { return mode_; }

    std::shared_ptr<ui::ImageView> sourceImageView;
    std::shared_ptr<ui::ImageView> destinationImageView;

    // The picture in flight while an animation runs (for tests), else null.
    std::shared_ptr<ImageView> movingPicture() const { return moving_.lock(); }

    // Called as an animation starts (the expand hands its views to the drag controller).
    std::function<void(ui::TransitionContext&)> onStart;

    double transitionDuration(const ui::TransitionContext&) const override { return kDuration; }

    void animateTransition(ui::TransitionContext& context) override;

private:
    Mode mode_;
    std::weak_ptr<ImageView> moving_;
};

// ZoomInteractionController: drag-to-dismiss on a pushed preview: a downward drag shrinks the
// preview under the finger over the grid; a release after at least 70 points pops it (with the
// shrinking zoom from where the finger left it), any other release puts it back. Handed to a
// transition it never starts interactively: it installs the drag on the incoming screen and lets
// the animation play to its end by itself.
class ZoomInteractionController : public ui::GestureRecognizerDelegate,
                                  public ui::InteractiveTransitioning,
                                  public std::enable_shared_from_this<ZoomInteractionController> {
public:
    static constexpr double kThreshold = 70;
    // The preview never shrinks below this scale, however far the finger goes.
    static constexpr double kMinimumScale = 0.05;

    // Installs the drag on the pushed preview and keeps the views of `context`.
    void attach(ui::TransitionContext& context);

    void startInteractiveTransition(ui::TransitionContext& context) override;

    void handlePan(ui::PanGestureRecognizer& pan);
    bool gestureRecognizerShouldBegin(ui::GestureRecognizer& recognizer) override;

    void begin();
    void update(ui::Point translation);
    void cancel();
    void finish();

    bool hasCompleted() const { return hasCompleted_; }

    double progress() const { return progress_; }

    const std::shared_ptr<ui::View>& separationView() const { return separationView_; }

    std::shared_ptr<ui::PanGestureRecognizer> panRecognizer() const { return pan_.lock(); }

private:
    std::weak_ptr<ui::NavigationController> navigation_;
    std::weak_ptr<ui::View> container_;
    std::weak_ptr<ui::View> source_;
    std::weak_ptr<ui::View> destination_;
    std::weak_ptr<ui::PanGestureRecognizer> pan_;
    bool hasCompleted_ = false;
    double progress_ = 0;
    std::shared_ptr<ui::View> separationView_ = std::make_shared<ui::View>();
    std::optional<ui::AffineTransform> transform_;
};

// ZoomTransitionDelegate: the picker's navigation delegate: pushes of a preview zoom out of the
// cell, pops of one zoom back into it; other screens move the standard way. As a transitioning
// delegate (the picker presents nothing with it) it zooms out on presenting, back on dismissing,
// and hands each dismissal a new drag controller.
class ZoomTransitionDelegate : public ui::NavigationControllerDelegate,
                               public ui::TransitioningDelegate {
public:
    ZoomTransitionDelegate();

    // The grid cell's image view: the expansion's source and the shrink's destination.
    void setZoomedOutView(std::shared_ptr<ui::ImageView> view);
    // The preview's image view: the expansion's destination and the shrink's source.
    void setZoomedInView(std::shared_ptr<ui::ImageView> view);

    const std::shared_ptr<ZoomAnimator>& expandAnimator() const { return expand_; }

    const std::shared_ptr<ZoomAnimator>& shrinkAnimator() const { return shrink_; }

    const std::shared_ptr<ZoomInteractionController>& dragController() const {
        return interaction_;
    }

    std::shared_ptr<ui::AnimatedTransitioning> animationController(
            ui::NavigationController& navigation,
            Operation operation,
            const std::shared_ptr<ui::ViewController>& from,
            const std::shared_ptr<ui::ViewController>& to) override;

    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForPresented(
            const std::shared_ptr<ui::ViewController>& presented,
            const std::shared_ptr<ui::ViewController>& presenting) override;
    std::shared_ptr<ui::AnimatedTransitioning> animationControllerForDismissed(
            const std::shared_ptr<ui::ViewController>& dismissed) override;
    std::shared_ptr<ui::InteractiveTransitioning> interactionControllerForDismissal(
            const std::shared_ptr<ui::AnimatedTransitioning>& animator) override;

private:
    std::shared_ptr<ZoomAnimator> expand_;
    std::shared_ptr<ZoomAnimator> shrink_;
    std::shared_ptr<ZoomInteractionController> interaction_;
};

}  // namespace pelmar
