#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// ImageView: a view that shows one image (a resource name, a file or pixels), its highlighted
// image while highlighted, or its animation images in turn while animating. A tint colour set on
// the view colours template images. An animation runs on the installed dispatch clock from
// startAnimating(): each image shows for an equal share of animationDuration, passes repeat
// animationRepeatCount times (0: for ever), and after the last pass the view stops animating and
// shows its image again.
// Ownership: reference object made with std::make_shared; holds its images.
// Threads: main thread only.
// Errors: none.
class ImageView : public View {
public:
    // The time each image shows when animationDuration is 0 or less.
    static constexpr double kDefaultFrameSeconds = 1.0 / 30;

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

    // The images animated in place of animationImages while highlighted.
    const std::vector<std::shared_ptr<const Image>>& highlightedAnimationImages() const {
        return highlightedAnimationImages_;
    }

    void setHighlightedAnimationImages(std::vector<std::shared_ptr<const Image>> images) {
        highlightedAnimationImages_ = std::move(images);
    }

    // Seconds for one pass through the animation images; 0 or less: kDefaultFrameSeconds each.
    double animationDuration() const { return animationDuration_; }

    void setAnimationDuration(double seconds) { animationDuration_ = seconds; }

    // How many passes; 0 repeats for ever.
    int animationRepeatCount() const { return animationRepeatCount_; }

    void setAnimationRepeatCount(int count) { animationRepeatCount_ = count; }

    // Starts from the first image now; ignored while already animating and when there are no
    // animation images.
    void startAnimating();

    void stopAnimating() { animating_ = false; }

    // Started, not stopped, and its passes not yet over.
    bool isAnimating() const;

    // What the view shows now: the animation image for the clock's time while animating, else
    // the highlighted image while highlighted (when set), else the image. Null when empty.
    std::shared_ptr<const Image> displayedImage() const;

private:
    // The images animated in the current highlight state.
    const std::vector<std::shared_ptr<const Image>>& currentAnimationImages() const;
    double passSeconds() const;

    std::shared_ptr<const Image> image_;
    int imageUpdates_ = 0;
    std::shared_ptr<const Image> highlightedImage_;
    bool highlighted_ = false;
    std::vector<std::shared_ptr<const Image>> animationImages_;
    std::vector<std::shared_ptr<const Image>> highlightedAnimationImages_;
    double animationDuration_ = 0.0;
    int animationRepeatCount_ = 0;
    bool animating_ = false;
    double animationStart_ = 0.0;
};

}  // namespace pelmar::ui
