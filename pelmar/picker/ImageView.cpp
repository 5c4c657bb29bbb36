#include "pelmar/picker/ImageView.h"

#include "pelmar/picker/ImageViewLayout.h"

namespace pelmar {

ImageView::ImageView() : inner_(std::make_shared<ui::ImageView>()) {}

ImageView::ImageView(ui::Rect frame) : View(frame), inner_(std::make_shared<ui::ImageView>()) {}

ImageView::ImageView(std::shared_ptr<const ui::Image> image) : ImageView() {
    inner_->setImage(std::move(image));
}

ImageView::ImageView(std::shared_ptr<const ui::Image> image,
                     std::shared_ptr<const ui::Image> highlightedImage)
    : ImageView(std::move(image)) {
    inner_->setHighlightedImage(std::move(highlightedImage));
}

void ImageView::setImage(std::shared_ptr<const ui::Image> image) {
    if (!inner_->superview()) {
        addSubview(inner_);
    }
    inner_->setImage(std::move(image));
    setNeedsLayout();
    layoutIfNeeded();
}

void ImageView::setContentMode(ui::ContentMode mode) {
    View::setContentMode(mode);
    setNeedsLayout();
    layoutIfNeeded();
}

void ImageView::setTintColor(std::optional<ui::Color> color) {
    View::setTintColor(color);
    inner_->setTintColor(tintColor());
}

void ImageView::setUserInteractionEnabled(bool enabled) {
    View::setUserInteractionEnabled(enabled);
    inner_->setUserInteractionEnabled(isUserInteractionEnabled());
}

void ImageView::layoutSubviews() {
    View::layoutSubviews();
    if (!inner_->superview()) {
        addSubview(inner_);
    }
    const auto image = inner_->image();
    if (!image) {
        inner_->setFrame({});
        return;
    }
    inner_->setFrame(
            ImageViewLayout::frameForImage({image->width(), image->height()}, inner_->frame(),
                                           {bounds().width, bounds().height}, contentMode()));
}

}  // namespace pelmar
