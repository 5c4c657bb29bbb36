#pragma once

#include <memory>

#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// ImageView: a view that hosts an inner image view and places it with ImageViewLayout on every
// layout pass, from its own bounds and content mode; so animating its frame and content mode
// moves and resizes the picture smoothly. Setting the image or the content mode lays it out at
// once; the highlighted image does not.
// Ownership: reference object from std::make_shared; owns its inner image view.
// Threads: main thread only.
// Errors: none; without an image the inner view has a zero frame.
class ImageView : public ui::View {
public:
    ImageView();

    std::shared_ptr<const ui::Image> image() const { return inner_->image(); }

    void setImage(std::shared_ptr<const ui::Image> image);

    std::shared_ptr<const ui::Image> highlightedImage() const { return highlighted_; }

    void setHighlightedImage(std::shared_ptr<const ui::Image> image) {
        highlighted_ = std::move(image);
    }

    // Hides View::setContentMode: lays the picture out again at once.
    void setContentMode(ui::ContentMode mode);

    const std::shared_ptr<ui::ImageView>& innerImageView() const { return inner_; }

    void layoutSubviews() override;

protected:
    std::string className() const override { return "ImageView"; }

private:
    std::shared_ptr<ui::ImageView> inner_;
    std::shared_ptr<const ui::Image> highlighted_;
};

}  // namespace pelmar
