#include "pelmar/editor/RangeSlider.h"

#include <algorithm>

#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

std::shared_ptr<RangeSlider> RangeSlider::create(ui::Rect frame) {
    auto slider = std::make_shared<RangeSlider>(frame);
    slider->initializeLayers();
    return slider;
}

void RangeSlider::initializeLayers() {
    layer()->setBackgroundColor(ui::Color::clear());
    auto self = std::static_pointer_cast<RangeSlider>(shared_from_this());
    trackLayer_->rangeSlider = self;
    lowerThumbLayer_->rangeSlider = self;
    upperThumbLayer_->rangeSlider = self;
    const double scale = ui::Screen::main().scale();
    trackLayer_->setContentsScale(scale);
    lowerThumbLayer_->setContentsScale(scale);
    upperThumbLayer_->setContentsScale(scale);
    updateLayerFrames();
}

void RangeSlider::setMinimumValue(double value) {
    minimumValue_ = value;
    updateLayerFrames();
}

void RangeSlider::setMaximumValue(double value) {
    maximumValue_ = value;
    updateLayerFrames();
}

void RangeSlider::setLowerValue(double value) {
    lowerValue_ = value;
    updateLayerFrames();
}

void RangeSlider::setUpperValue(double value) {
    upperValue_ = value;
    updateLayerFrames();
}

double RangeSlider::gapBetweenThumbs() const {
    const double width = bounds().width;
    if (!(width > 0)) {
        return 0;
    }
    return kThumbWidth * 0.6 * (maximumValue_ - minimumValue_) / width;
}

void RangeSlider::setTrackTintColor(ui::Color color) {
    trackTintColor_ = color;
    trackLayer_->setNeedsDisplay();
}

void RangeSlider::setTrackHighlightTintColor(ui::Color color) {
    trackHighlightTintColor_ = color;
    trackLayer_->setNeedsDisplay();
}

void RangeSlider::setThumbTintColor(ui::Color color) {
    thumbTintColor_ = color;
    lowerThumbLayer_->setNeedsDisplay();
    upperThumbLayer_->setNeedsDisplay();
}

void RangeSlider::setThumbBorderColor(ui::Color color) {
    thumbBorderColor_ = color;
    lowerThumbLayer_->setStrokeColor(color);
    upperThumbLayer_->setStrokeColor(color);
}

void RangeSlider::setThumbBorderWidth(double width) {
    thumbBorderWidth_ = width;
    lowerThumbLayer_->setLineWidth(width);
    upperThumbLayer_->setLineWidth(width);
}

void RangeSlider::setCurvaceousness(double value) {
    curvaceousness_ = std::clamp(value, 0.0, 1.0);
    trackLayer_->setNeedsDisplay();
    lowerThumbLayer_->setNeedsDisplay();
    upperThumbLayer_->setNeedsDisplay();
}

double RangeSlider::positionForValue(double value) const {
    const double range = maximumValue_ - minimumValue_;
    if (range == 0) {
        return kThumbWidth / 2;
    }
    return (bounds().width - kThumbWidth) * (value - minimumValue_) / range + kThumbWidth / 2;
}

double RangeSlider::boundValue(double value, double lower, double upper) {
    return std::min(std::max(value, lower), upper);
}

void RangeSlider::updateLayerFrames() {
    const ui::Rect b = bounds();
    placedBounds_ = b;
    trackLayer_->setFrame({b.x, b.y + b.height / 3, b.width, b.height / 3});
    trackLayer_->setNeedsDisplay();
    const double lower = positionForValue(lowerValue_);
    lowerThumbLayer_->setFrame({lower - kThumbWidth / 2, kThumbTop, kThumbWidth, kThumbHeight});
    lowerThumbLayer_->setNeedsDisplay();
    const double upper = positionForValue(upperValue_);
    upperThumbLayer_->setFrame({upper - kThumbWidth / 2, kThumbTop, kThumbWidth, kThumbHeight});
    upperThumbLayer_->setNeedsDisplay();
}

void RangeSlider::syncLayerFrames() {
    const ui::Rect b = bounds();
    if (b.x != placedBounds_.x || b.y != placedBounds_.y || b.width != placedBounds_.width
        || b.height != placedBounds_.height) {
        updateLayerFrames();
    }
}

void RangeSlider::draw(ui::GraphicsContext& context) {
    syncLayerFrames();
    for (SliderLayer* layer : std::initializer_list<SliderLayer*>{
                 trackLayer_.get(), lowerThumbLayer_.get(), upperThumbLayer_.get()}) {
        context.saveState();
        context.translate(layer->frame().x, layer->frame().y);
        layer->drawInContext(context);
        context.restoreState();
    }
}

double RangeSlider::valueForPosition(double x) const {
    return (x - kThumbWidth / 2) * (maximumValue_ - minimumValue_) / (bounds().width - kThumbWidth)
           + minimumValue_;
}

bool RangeSlider::beginTrackingTouch(const ui::Touch& touch) {
    syncLayerFrames();
    previousLocation_ = touch.locationIn(this);
    if (lowerThumbLayer_->frame().contains(previousLocation_)) {
        lowerThumbLayer_->setHighlighted(true);
    } else if (upperThumbLayer_->frame().contains(previousLocation_)) {
        upperThumbLayer_->setHighlighted(true);
    }
    const bool grabbed = lowerThumbLayer_->highlighted() || upperThumbLayer_->highlighted();
    if (grabbed) {
        lowerLayerSelected = lowerThumbLayer_->highlighted();
        // Where on the thumb the finger came down: the thumb keeps that place under the finger.
        grabOffset_ = previousLocation_.x
                      - positionForValue(lowerLayerSelected ? lowerValue_ : upperValue_);
    }
    return grabbed;
}

bool RangeSlider::continueTrackingTouch(const ui::Touch& touch) {
    previousLocation_ = touch.locationIn(this);
    // The finger maps back to a value with the mapping the thumbs are drawn with, so the grabbed
    // thumb follows it point for point, also after a clamp held it back. A control no wider than
    // a thumb, or with equal limits, has no such mapping: its thumbs stay put.
    const bool movable = bounds().width > kThumbWidth && maximumValue_ != minimumValue_;
    if (movable && lowerThumbLayer_->highlighted()) {
        setLowerValue(boundValue(valueForPosition(previousLocation_.x - grabOffset_), minimumValue_,
                                 upperValue_ - gapBetweenThumbs()));
    } else if (movable && upperThumbLayer_->highlighted()) {
        setUpperValue(boundValue(valueForPosition(previousLocation_.x - grabOffset_),
                                 lowerValue_ + gapBetweenThumbs(), maximumValue_));
    }
    sendActions(ui::ControlEvent::ValueChanged);
    return true;
}

void RangeSlider::endTrackingTouch(const ui::Touch& /*touch*/) {
    lowerThumbLayer_->setHighlighted(false);
    upperThumbLayer_->setHighlighted(false);
}

}  // namespace pelmar
