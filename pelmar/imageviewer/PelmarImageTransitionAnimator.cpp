#include "pelmar/imageviewer/PelmarImageTransitionAnimator.h"

#include <cmath>

#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/imageviewer/internal/AspectFit.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar {

std::shared_ptr<PelmarImageTransitionAnimator> PelmarImageTransitionAnimator::create() {
    auto animator = std::make_shared<PelmarImageTransitionAnimator>(Private{});
    std::weak_ptr<PelmarImageTransitionAnimator> weak = animator;
    animator->cancel_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION),
            [weak](const foundation::Notification& note) {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                if (auto value = note.objectAs<const int64_t>()) {
                    self->dismissWithoutCustomTransition = *value != 0;
                }
            });
    return animator;
}

PelmarImageTransitionAnimator::PelmarImageTransitionAnimator(Private) {}

std::shared_ptr<ui::ImageView> PelmarImageTransitionAnimator::temporaryImageView() const {
    if (!animatedImage) {
        return nullptr;
    }
    auto view = std::make_shared<ui::ImageView>(presenting ? imageOriginFrame : ui::Rect{});
    view->setImage(ui::Image::fromBitmap(animatedImage));
    view->setContentMode(desiredContentMode);
    // An aspect-fill picture stays inside the frame it flies in.
    view->setClipsToBounds(true);
    return view;
}

ui::Rect PelmarImageTransitionAnimator::imageFinalFrameDestinationForImageView(
        const ui::ImageView& imageView, const ui::View& view) {
    const auto image = imageView.image();
    if (!image) {
        return {};
    }
    return imageviewer::internal::aspectFitRect(image->width(), image->height(), view.bounds())
            .value_or(ui::Rect{});
}

double PelmarImageTransitionAnimator::transitionDuration(const ui::TransitionContext&) const {
    return animationDuration;
}

void PelmarImageTransitionAnimator::animateTransition(ui::TransitionContext& context) {
    if (presenting) {
        performPresentationAnimation(context);
    } else {
        performDismissingAnimation(context);
    }
}

void PelmarImageTransitionAnimator::performPresentationAnimation(ui::TransitionContext& context) {
    dismissWithoutCustomTransition = false;
    presentedDeviceOrientation = ui::Application::shared().deviceOrientation();
    auto container = context.containerView();
    auto from = context.view(ui::TransitionContext::Key::From);
    auto to = context.view(ui::TransitionContext::Key::To);
    if (from) {
        presentingViewY = from->frame().y;
    }
    if (to) {
        to->setFrame(context.finalFrame(ui::TransitionContext::Key::To));
        to->setAlpha(0);
        if (!to->subviews().empty()) {
            to->subviews().front()->setHidden(true);
        }
    }
    if (animatedImageContainer) {
        animatedImageContainer->setAlpha(0);
    }
    flying_ = temporaryImageView();
    if (container && to) {
        container->addSubview(to);
    }
    if (container && flying_) {
        container->addSubview(flying_);
    }
    const ui::Rect destination =
            flying_ && container ? imageFinalFrameDestinationForImageView(*flying_, *container)
                                 : ui::Rect{};
    auto self = shared_from_this();
    auto ctx = context.shared_from_this();
    auto flying = flying_;
    ui::View::animate(
            animationDuration,
            [flying, to, destination] {
                if (flying) {
                    flying->setFrame(destination);
                }
                if (to) {
                    to->setAlpha(1);
                }
            },
            [self, ctx, flying, to](bool) {
                ctx->completeTransition(true);
                self->presenting = !self->presenting;
                if (to && !to->subviews().empty()) {
                    to->subviews().front()->setHidden(false);
                }
                if (flying) {
                    flying->removeFromSuperview();
                }
            });
}

void PelmarImageTransitionAnimator::performDismissingAnimation(ui::TransitionContext& context) {
    if (!dismissWithoutCustomTransition) {
        dismissWithoutCustomTransition =
                ui::Application::shared().deviceOrientation() != presentedDeviceOrientation;
    }
    auto container = context.containerView();
    auto from = context.view(ui::TransitionContext::Key::From);
    auto to = context.view(ui::TransitionContext::Key::To);
    const ui::Rect bounds = container ? container->bounds() : ui::Rect{};
    if (to) {
        to->setFrame({0, presentingViewY, bounds.width, bounds.height});
        to->setAlpha(0);
    }
    if (from && !from->subviews().empty()) {
        from->subviews().front()->setHidden(true);
    }
    if (container && to) {
        container->addSubview(to);
    }
    flying_ = temporaryImageView();
    if (dismissWithoutCustomTransition) {
        if (animatedImageContainer) {
            animatedImageContainer->setAlpha(1);
        }
    } else if (container && flying_) {
        container->addSubview(flying_);
    }
    if (flying_ && container) {
        flying_->setFrame(imageFinalFrameDestinationForImageView(*flying_, *container));
    }
    auto self = shared_from_this();
    auto ctx = context.shared_from_this();
    auto flying = flying_;
    const bool fly = !dismissWithoutCustomTransition;
    const ui::Rect origin = imageOriginFrame;
    ui::View::animate(
            animationDuration,
            [flying, to, fly, origin] {
                if (fly && flying) {
                    flying->setFrame(origin);
                }
                if (to) {
                    to->setAlpha(1);
                }
            },
            [self, ctx, flying](bool) {
                ctx->completeTransition(true);
                self->presenting = !self->presenting;
                if (self->animatedImageContainer) {
                    self->animatedImageContainer->setAlpha(1);
                }
                if (flying) {
                    flying->removeFromSuperview();
                }
            });
}

std::shared_ptr<ui::AnimatedTransitioning>
PelmarImageTransitionAnimator::animationControllerForPresented(
        const std::shared_ptr<ui::ViewController>&, const std::shared_ptr<ui::ViewController>&) {
    return shared_from_this();
}

std::shared_ptr<ui::AnimatedTransitioning>
PelmarImageTransitionAnimator::animationControllerForDismissed(
        const std::shared_ptr<ui::ViewController>&) {
    return shared_from_this();
}

}  // namespace pelmar
