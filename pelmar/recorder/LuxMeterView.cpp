#include "pelmar/recorder/LuxMeterView.h"

#include <mutex>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Nib.h"

namespace pelmar {

namespace {

std::shared_ptr<ui::View> build(LuxMeterView& owner) {
    auto content = std::make_shared<ui::View>(owner.bounds());
    auto image = std::make_shared<ui::ImageView>(owner.bounds());
    image->setUserInteractionEnabled(false);
    content->addSubview(image);
    owner.imageView = image;
    return content;
}

}  // namespace

std::shared_ptr<LuxMeterView> LuxMeterView::create(ui::Rect frame) {
    static std::once_flag once;
    std::call_once(once, [] { ui::Nib::registerBuilder<LuxMeterView>("LuxMeterView", build); });
    auto view = std::make_shared<LuxMeterView>(frame);
    view->initNib();
    return view;
}

void LuxMeterView::initNib() {
    contentView = ui::Nib::instantiate("LuxMeterView", *this);
    contentView->setFrame(bounds());
    addSubview(contentView);
    scheduleUpdate();
}

void LuxMeterView::layoutSubviews() {
    ui::View::layoutSubviews();
    if (contentView) {
        contentView->setFrame(bounds());
    }
    if (auto image = imageView.lock()) {
        image->setFrame(bounds());
    }
}

void LuxMeterView::didMoveToWindow() {
    // Back in a window after its loop stopped (a screen covered it): the loop starts again.
    if (window() && !updating_) {
        scheduleUpdate();
    }
}

void LuxMeterView::scheduleUpdate() {
    updating_ = true;
    std::weak_ptr<LuxMeterView> weak = std::static_pointer_cast<LuxMeterView>(shared_from_this());
    dispatch::Queue::main()->asyncAfter(kUpdateInterval, [weak] {
        if (auto self = weak.lock()) {
            self->updateImage();
        }
    });
}

std::shared_ptr<const ui::Image> LuxMeterView::getImageFromResource(const std::string& name) {
    return ui::Image::named(name);
}

void LuxMeterView::updateImage() {
    if (!window()) {
        updating_ = false;
        return;
    }
    // The look and the next check both come half a second on.
    std::weak_ptr<LuxMeterView> weak = std::static_pointer_cast<LuxMeterView>(shared_from_this());
    dispatch::Queue::main()->asyncAfter(kUpdateInterval, [weak] {
        if (auto self = weak.lock()) {
            self->showLevel();
        }
    });
    scheduleUpdate();
}

void LuxMeterView::showLevel() {
    auto image = imageView.lock();
    if (!image) {
        return;
    }
    const double l = currentLuminousity();
    const char* name = l < -0.5 ? "sun-red" : (l < 1.0 ? "sun-yellow" : "sun-white");
    if (!image->image() || image->image()->name() != name) {
        image->setImage(getImageFromResource(name));
    }
    // Low light blinks: the icon's visibility flips at every look.
    image->setHidden(l < 1.0 ? !image->isHidden() : false);
}

}  // namespace pelmar
