#pragma once

#include "pelmar/imageloader/PelmarAnimatedImageView.h"
#include "pelmar/imageloader/PelmarRemoteImageCategory.h"

namespace pelmar {

// PelmarAnimatedImageViewRemoteImage: remote images in an animated image view; an animated GIF
// arrives as an animation and plays. Ownership: made by create(view) and held by shared_ptr; refers
// to the view weakly. Threads: main thread only for the view operations (see
// PelmarRemoteImageCategory). Errors: none; with the view gone every operation does nothing.
class PelmarAnimatedImageViewRemoteImage
    : public PelmarRemoteImageCategoryOn<PelmarAnimatedImageViewRemoteImage,
                                         PelmarAnimatedImageView> {
public:
    void pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) override;
    void pelmar_updateUIWithRemoteImageManagerResult(const PelmarImageResult& result) override;
    void pelmar_clearImages() override;

    bool pelmar_ignoreGIFs() const override { return false; }
};

}  // namespace pelmar
