#include "pelmar/picker/ZoomTransitionDelegate.h"

#include <algorithm>

#include "pelmar/picker/ImageView.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar {

namespace {

ui::Color withAlpha(std::optional<ui::Color> color, double alpha) {
    ui::Color c = color.value_or(ui::Color::white());
    c.alpha = alpha;
    return c;
}

// `view`'s frame (or bounds, as the target of the move) in `container`.
ui::Rect inContainer(const ui::View& view, ui::Rect rect, const ui::View* container) {
    auto superview = view.superview();
    return superview ? superview->convertTo(rect, container) : rect;
}

}  // namespace

void ZoomAnimator::animateTransition(ui::TransitionContext& context) {
    auto container = context.containerView();
    auto toView = context.view(ui::TransitionContext::Key::To);
    auto fromView = context.view(ui::TransitionContext::Key::From);
    auto source = sourceImageView;
    auto destination = destinationImageView;
    if (onStart) {
        onStart(context);
    }
    if (!container || !toView || !fromView || !source || !destination) {
        if (container && toView && !toView->superview()) {
            container->addSubview(toView);
        }
        context.completeTransition(!context.transitionWasCancelled());
        return;
    }
    source->setHidden(true);
    destination->setHidden(true);
    container->layer()->setBackgroundColor(toView->layer()->backgroundColor());
    auto moving = std::make_shared<ImageView>();
    moving->setFrame(inContainer(*source, source->frame(), container.get()));
    moving->View::setContentMode(source->contentMode());
    // A fill-mode picture keeps to its frame while it flies.
    moving->setClipsToBounds(true);
    if (mode_ == Mode::Expand) {
        toView->setAlpha(0);
        fromView->setAlpha(1);
        moving->setImage(destination->image() ? destination->image() : source->image());
    } else {
        moving->setImage(source->image() ? source->image() : destination->image());
    }
    if (toView->superview() != container) {
        container->addSubview(toView);
    }
    // The arriving screen takes its final frame and lays its content out first, so that the
    // picture lands where the screen shows it.
    if (const ui::Rect final = context.finalFrame(ui::TransitionContext::Key::To);
        final.width > 0 && final.height > 0) {
        toView->setFrame(final);
    }
    toView->layoutIfNeeded();
    container->addSubview(moving);
    moving_ = moving;
    const ui::Rect target = inContainer(*destination, destination->bounds(), container.get());
    const ui::ContentMode targetMode = destination->contentMode();
    auto shared = context.shared_from_this();
    ui::View::animate(
            kDuration,
            [fromView, toView, moving, target, targetMode] {
                fromView->setAlpha(0);
                toView->setAlpha(1);
                moving->setFrame(target);
                moving->setContentMode(targetMode);
            },
            [moving, destination, fromView, shared](bool) {
                moving->removeFromSuperview();
                destination->setHidden(false);
                fromView->setAlpha(1);
                shared->completeTransition(!shared->transitionWasCancelled());
            });
}

void ZoomInteractionController::attach(ui::TransitionContext& context) {
    auto pushed = context.viewController(ui::TransitionContext::Key::To);
    auto source = context.view(ui::TransitionContext::Key::To);
    if (!pushed || !source) {
        return;
    }
    std::weak_ptr<ZoomInteractionController> weak = shared_from_this();
    auto pan = std::make_shared<ui::PanGestureRecognizer>([weak](ui::GestureRecognizer& r) {
        if (auto self = weak.lock()) {
            self->handlePan(static_cast<ui::PanGestureRecognizer&>(r));
        }
    });
    pan->setDelegate(weak);
    source->addGestureRecognizer(pan);
    pan_ = pan;
    navigation_ = pushed->navigationController();
    source_ = source;
    destination_ = context.view(ui::TransitionContext::Key::From);
    container_ = context.containerView();
    transform_ = source->transform();
}

void ZoomInteractionController::startInteractiveTransition(ui::TransitionContext& context) {
    attach(context);
    if (auto animator = context.animator()) {
        animator->animateTransition(context);
    }
    // Not started by a gesture: the transition runs to its end on its own.
    context.finishInteractiveTransition();
}

bool ZoomInteractionController::gestureRecognizerShouldBegin(ui::GestureRecognizer& recognizer) {
    auto* pan = dynamic_cast<ui::PanGestureRecognizer*>(&recognizer);
    if (!pan) {
        return false;
    }
    auto view = pan->view();
    auto superview = view ? view->superview() : nullptr;
    return pan->translation(superview.get()).y >= 0;
}

void ZoomInteractionController::handlePan(ui::PanGestureRecognizer& pan) {
    using State = ui::GestureRecognizer::State;
    switch (pan.state()) {
        case State::Began:
            begin();
            break;
        case State::Changed: {
            auto view = pan.view();
            auto superview = view ? view->superview() : nullptr;
            update(pan.translation(superview.get()));
            break;
        }
        case State::Ended:
            if (hasCompleted_) {
                finish();
            } else {
                cancel();
            }
            break;
        case State::Cancelled:
            cancel();
            break;
        default:
            break;
    }
}

void ZoomInteractionController::begin() {
    auto container = container_.lock();
    auto source = source_.lock();
    auto destination = destination_.lock();
    if (!container || !source || !destination) {
        return;
    }
    container->addSubview(destination);
    container->addSubview(separationView_);
    container->bringSubviewToFront(source);
    separationView_->layer()->setBackgroundColor(source->layer()->backgroundColor());
    separationView_->setFrame(destination->frame());
    source->layer()->setBackgroundColor(withAlpha(source->layer()->backgroundColor(), 0));
    transform_ = source->transform();
}

void ZoomInteractionController::update(ui::Point translation) {
    auto source = source_.lock();
    auto destination = destination_.lock();
    if (!source || !destination) {
        return;
    }
    const double ty = translation.y;
    progress_ = ty > 0 ? std::min(ty / kThreshold, 1.0) : 0;
    const double height = destination->frame().height;
    double s = height > 0 ? 1 - std::max(ty, 0.0) / height : 1;
    // A drag as long as the screen would shrink the preview to nothing or mirror it.
    s = std::max(s, kMinimumScale);
    // Scaled about the centre, whose move follows the finger exactly.
    source->setTransform(ui::AffineTransform{s, 0, 0, s, translation.x, ty});
    separationView_->layer()->setBackgroundColor(
            withAlpha(separationView_->layer()->backgroundColor(), s));
    hasCompleted_ = progress_ == 1;
}

void ZoomInteractionController::cancel() {
    if (auto source = source_.lock()) {
        source->layer()->setBackgroundColor(withAlpha(source->layer()->backgroundColor(), 1));
        source->setTransform(transform_.value_or(ui::AffineTransform::identity()));
    }
    if (auto destination = destination_.lock()) {
        destination->removeFromSuperview();
    }
    separationView_->removeFromSuperview();
    hasCompleted_ = false;
    progress_ = 0;
}

void ZoomInteractionController::finish() {
    separationView_->removeFromSuperview();
    if (auto navigation = navigation_.lock()) {
        navigation->pop(true);
    }
    hasCompleted_ = false;
}

ZoomTransitionDelegate::ZoomTransitionDelegate()
    : expand_(std::make_shared<ZoomAnimator>(ZoomAnimator::Mode::Expand)),
      shrink_(std::make_shared<ZoomAnimator>(ZoomAnimator::Mode::Shrink)),
      interaction_(std::make_shared<ZoomInteractionController>()) {
    std::weak_ptr<ZoomInteractionController> weak = interaction_;
    expand_->onStart = [weak](ui::TransitionContext& context) {
        if (auto interaction = weak.lock()) {
            interaction->attach(context);
        }
    };
}

void ZoomTransitionDelegate::setZoomedOutView(std::shared_ptr<ui::ImageView> view) {
    expand_->sourceImageView = view;
    shrink_->destinationImageView = std::move(view);
}

void ZoomTransitionDelegate::setZoomedInView(std::shared_ptr<ui::ImageView> view) {
    expand_->destinationImageView = view;
    shrink_->sourceImageView = std::move(view);
}

std::shared_ptr<ui::AnimatedTransitioning> ZoomTransitionDelegate::animationController(
        ui::NavigationController&,
        Operation operation,
        const std::shared_ptr<ui::ViewController>& from,
        const std::shared_ptr<ui::ViewController>& to) {
    if (operation == Operation::Push && std::dynamic_pointer_cast<PreviewViewController>(to)) {
        return expand_;
    }
    if (operation == Operation::Pop && std::dynamic_pointer_cast<PreviewViewController>(from)) {
        return shrink_;
    }
    return nullptr;
}

std::shared_ptr<ui::AnimatedTransitioning> ZoomTransitionDelegate::animationControllerForPresented(
        const std::shared_ptr<ui::ViewController>&, const std::shared_ptr<ui::ViewController>&) {
    return expand_;
}

std::shared_ptr<ui::AnimatedTransitioning> ZoomTransitionDelegate::animationControllerForDismissed(
        const std::shared_ptr<ui::ViewController>&) {
    return shrink_;
}

std::shared_ptr<ui::InteractiveTransitioning>
ZoomTransitionDelegate::interactionControllerForDismissal(
        const std::shared_ptr<ui::AnimatedTransitioning>&) {
    return std::make_shared<ZoomInteractionController>();
}

}  // namespace pelmar
