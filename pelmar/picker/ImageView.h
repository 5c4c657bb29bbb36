#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// ImageView: a view that hosts an inner image view and places it with ImageViewLayout on every
// layout pass, from its own bounds and content mode; so animating its frame and content mode
// moves and resizes the picture smoothly. Setting the image or the content mode lays it out at
// once; the highlighted image, the highlight and the animation go to the inner view without a
// layout pass; the tint colour and the interaction flag are the view's own and copied inward.
// Ownership: reference object from std::make_shared; owns its inner image view.
// Threads: main thread only.
// Errors: none; without an image the inner view has a zero frame.
class ImageView : public ui::View {
public:
    ImageView();

    explicit ImageView(ui::Rect frame);

    // A zero frame and the picture(s) handed to the inner view as they are, without a layout pass
    // (the next one places them).
    explicit ImageView(std::shared_ptr<const ui::Image> image);
    ImageView(std::shared_ptr<const ui::Image> image,
              std::shared_ptr<const ui::Image> highlightedImage);

    std::shared_ptr<const ui::Image> image() const { return inner_->image(); }

    void setImage(std::shared_ptr<const ui::Image> image);

    // These go to the inner image view as they are; none lays the picture out again.
    std::shared_ptr<const ui::Image> highlightedImage() const { return inner_->highlightedImage(); }

    void setHighlightedImage(std::shared_ptr<const ui::Image> image) {
        inner_->setHighlightedImage(std::move(image));
    }

    bool isHighlighted() const { return inner_->isHighlighted(); }

    void setHighlighted(bool highlighted) { inner_->setHighlighted(highlighted); }

    const std::vector<std::shared_ptr<const ui::Image>>& animationImages() const {
        return inner_->animationImages();
    }

    void setAnimationImages(std::vector<std::shared_ptr<const ui::Image>> images) {
        inner_->setAnimationImages(std::move(images));
    }

    const std::vector<std::shared_ptr<const ui::Image>>& highlightedAnimationImages() const {
        return inner_->highlightedAnimationImages();
    }

    void setHighlightedAnimationImages(std::vector<std::shared_ptr<const ui::Image>> images) {
        inner_->setHighlightedAnimationImages(std::move(images));
    }

    double animationDuration() const { return inner_->animationDuration(); }

    void setAnimationDuration(double seconds) { inner_->setAnimationDuration(seconds); }

    int animationRepeatCount() const { return inner_->animationRepeatCount(); }

    void setAnimationRepeatCount(int count) { inner_->setAnimationRepeatCount(count); }

    bool isAnimating() const { return inner_->isAnimating(); }

    void startAnimating() { inner_->startAnimating(); }

    void stopAnimating() { inner_->stopAnimating(); }

    // Hide View's: the view keeps its own value, and the inner image view takes the same.
    void setTintColor(std::optional<ui::Color> color);
    void setUserInteractionEnabled(bool enabled);

    // Hides View::setContentMode: lays the picture out again at once.
    void setContentMode(ui::ContentMode mode);

    const std::shared_ptr<ui::ImageView>& innerImageView() const { return inner_; }

    void layoutSubviews() override;

protected:
    std::string className() const override { return "ImageView"; }

private:
    std::shared_ptr<ui::ImageView> inner_;
};

}  // namespace pelmar
