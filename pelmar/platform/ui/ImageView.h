#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// ImageView: a view that shows one image (a resource name, a file or pixels), its highlighted
// image while highlighted, or its animation images in turn while animating. A tint colour set on
// the view colours template images.
// Ownership: reference object made with std::make_shared; holds its image.
// Threads: main thread only.
// Errors: none.
class ImageView : public View {
public:
    using View::View;

    std::shared_ptr<const Image> image() const { return image_; }

    void setImage(std::shared_ptr<const Image> image) {
        image_ = std::move(image);
        ++imageUpdates_;
    }

    // How often setImage() was called (a live preview counts its frames with it).
    int imageUpdates() const { return imageUpdates_; }

    std::shared_ptr<const Image> highlightedImage() const { return highlightedImage_; }

    void setHighlightedImage(std::shared_ptr<const Image> image) {
        highlightedImage_ = std::move(image);
    }

    bool isHighlighted() const { return highlighted_; }

    void setHighlighted(bool highlighted) { highlighted_ = highlighted; }

    const std::vector<std::shared_ptr<const Image>>& animationImages() const {
        return animationImages_;
    }

    void setAnimationImages(std::vector<std::shared_ptr<const Image>> images) {
        animationImages_ = std::move(images);
    }

    // Seconds for one pass through the animation images.
    double animationDuration() const { return animationDuration_; }

    void setAnimationDuration(double seconds) { animationDuration_ = seconds; }

    // How many passes; 0 repeats for ever.
    int animationRepeatCount() const { return animationRepeatCount_; }

    void setAnimationRepeatCount(int count) { animationRepeatCount_ = count; }

    void startAnimating() { animating_ = !animationImages_.empty(); }

    void stopAnimating() { animating_ = false; }

    bool isAnimating() const { return animating_; }

private:
    std::shared_ptr<const Image> image_;
    int imageUpdates_ = 0;
    std::shared_ptr<const Image> highlightedImage_;
    bool highlighted_ = false;
    std::vector<std::shared_ptr<const Image>> animationImages_;
    double animationDuration_ = 0.0;
    int animationRepeatCount_ = 0;
    bool animating_ = false;
};

}  // namespace pelmar::ui
