#pragma once

#include "pelmar/imageloader/PelmarRemoteImageCategory.h"
#include "pelmar/platform/ui/Button.h"

namespace pelmar {

// PelmarButtonRemoteImage: remote images as a button's image for the normal state only; animated
// GIFs arrive as still images. Ownership: made by create(view) and held by shared_ptr; refers to
// the view weakly. Threads: main thread only for the view operations (see
// PelmarRemoteImageCategory). Errors: none; with the view gone every operation does nothing.
class PelmarButtonRemoteImage
    : public PelmarRemoteImageCategoryOn<PelmarButtonRemoteImage, ui::Button> {
public:
    void pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) override;
    void pelmar_updateUIWithRemoteImageManagerResult(const PelmarImageResult& result) override;
    void pelmar_clearImages() override;

    bool pelmar_ignoreGIFs() const override { return true; }
};

}  // namespace pelmar
