#include "pelmar/imageloader/PelmarImageViewRemoteImage.h"

#include "pelmar/platform/ui/Image.h"

namespace pelmar {

void PelmarImageViewRemoteImage::pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) {
    if (auto view = typedView()) {
        view->setImage(uiImage(placeholder));
    }
}

void PelmarImageViewRemoteImage::pelmar_updateUIWithRemoteImageManagerResult(
        const PelmarImageResult& result) {
    auto view = typedView();
    if (!view || !result) {
        return;
    }
    if (result->image()) {
        view->setImage(uiImage(result->image()));
        view->setNeedsLayout();
    }
}

void PelmarImageViewRemoteImage::pelmar_clearImages() {
    if (auto view = typedView()) {
        view->setImage(nullptr);
        view->setNeedsLayout();
    }
}

}  // namespace pelmar
