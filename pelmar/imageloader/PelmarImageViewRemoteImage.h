#pragma once

#include "pelmar/imageloader/PelmarRemoteImageCategory.h"
#include "pelmar/platform/ui/ImageView.h"

namespace pelmar {

// PelmarImageViewRemoteImage: remote images in a plain image view; animated GIFs arrive as still
// images. Ownership: made by create(view) and held by shared_ptr; refers to the view weakly.
// Threads: main thread only for the view operations (see PelmarRemoteImageCategory).
// Errors: none; with the view gone every operation does nothing.
class PelmarImageViewRemoteImage
    : public PelmarRemoteImageCategoryOn<PelmarImageViewRemoteImage, ui::ImageView> {
public:
    void pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) override;
    void pelmar_updateUIWithRemoteImageManagerResult(const PelmarImageResult& result) override;
    void pelmar_clearImages() override;

    bool pelmar_ignoreGIFs() const override { return true; }
};

}  // namespace pelmar
