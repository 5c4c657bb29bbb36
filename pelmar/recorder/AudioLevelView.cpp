#include "pelmar/recorder/AudioLevelView.h"

#include <algorithm>
#include <mutex>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Nib.h"

namespace pelmar {

namespace {

std::shared_ptr<ui::View> build(AudioLevelView& owner) {
    auto content = std::make_shared<ui::View>(owner.bounds());
    auto bar = std::make_shared<ui::View>(owner.bounds());
    bar->layer()->setBackgroundColor(ui::Color{0.2, 0.85, 0.3, 1});
    bar->setUserInteractionEnabled(false);
    content->addSubview(bar);
    owner.progressBar = bar;
    return content;
}

}  // namespace

std::shared_ptr<AudioLevelView> AudioLevelView::create(ui::Rect frame) {
    static std::once_flag once;
    std::call_once(once, [] { ui::Nib::registerBuilder<AudioLevelView>("AudioLevelView", build); });
    auto view = std::make_shared<AudioLevelView>(frame);
    view->initNib();
    return view;
}

void AudioLevelView::initNib() {
    contentView = ui::Nib::instantiate("AudioLevelView", *this);
    contentView->setFrame(bounds());
    addSubview(contentView);
    constraint_ = std::make_shared<ui::LayoutConstraint>(-bounds().width);
    widthConstraint = constraint_;
    layoutBar();
}

void AudioLevelView::setCurrentLevel(double level) {
    currentLevel_.store(level);
    updateLevel();
}

void AudioLevelView::updateLevel() {
    const double level = currentLevel_.load();
    const double shown = currentAudioLevel_.load();
    currentAudioLevel_.store(level > shown ? level : std::max(0.0, shown - kFallPerMeasurement));
    std::weak_ptr<AudioLevelView> weak =
            std::static_pointer_cast<AudioLevelView>(shared_from_this());
    dispatch::Queue::main()->async([weak] {
        auto self = weak.lock();
        auto constraint = self ? self->widthConstraint.lock() : nullptr;
        if (!constraint || !self->contentView) {
            return;
        }
        constraint->setConstant(-self->contentView->bounds().width
                                * (1 - self->currentAudioLevel_.load()));
        self->layoutBar();
    });
}

void AudioLevelView::layoutSubviews() {
    ui::View::layoutSubviews();
    if (contentView) {
        contentView->setFrame(bounds());
    }
    layoutBar();
}

// The bar spans the content's width plus the constraint's (negative) constant.
void AudioLevelView::layoutBar() {
    auto bar = progressBar.lock();
    auto constraint = widthConstraint.lock();
    if (!bar || !constraint || !contentView) {
        return;
    }
    const ui::Rect b = contentView->bounds();
    bar->setFrame({0, 0, std::max(0.0, b.width + constraint->constant()), b.height});
}

}  // namespace pelmar
