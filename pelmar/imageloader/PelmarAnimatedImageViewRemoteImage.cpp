#include "pelmar/imageloader/PelmarAnimatedImageViewRemoteImage.h"

#include "pelmar/platform/ui/Image.h"

namespace pelmar {

void PelmarAnimatedImageViewRemoteImage::pelmar_setPlaceholderWithImage(
        const PelmarImage& placeholder) {
    if (auto view = typedView()) {
        view->setImage(uiImage(placeholder));
    }
}

void PelmarAnimatedImageViewRemoteImage::pelmar_updateUIWithRemoteImageManagerResult(
        const PelmarImageResult& result) {
    auto view = typedView();
    if (!view || !result) {
        return;
    }
    if (auto animated = std::dynamic_pointer_cast<PelmarCachedAnimatedImage>(
                result->alternativeRepresentation())) {
        view->setAnimatedImage(std::move(animated));
    } else if (result->image()) {
        view->setImage(uiImage(result->image()));
    }
}

void PelmarAnimatedImageViewRemoteImage::pelmar_clearImages() {
    if (auto view = typedView()) {
        view->setAnimatedImage(nullptr);
        view->setImage(nullptr);
    }
}

}  // namespace pelmar
