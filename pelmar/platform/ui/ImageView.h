#pragma once

#include <memory>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// ImageView: a view that shows one image (a resource name, a file or pixels).
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

private:
    std::shared_ptr<const Image> image_;
    int imageUpdates_ = 0;
};

}  // namespace pelmar::ui
