#include "pelmar/imageloader/PelmarButtonRemoteImage.h"

#include "pelmar/platform/ui/Image.h"

namespace pelmar {

void PelmarButtonRemoteImage::pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) {
    if (auto view = typedView()) {
        view->setImage(uiImage(placeholder), ui::ControlState::Normal);
    }
}

void PelmarButtonRemoteImage::pelmar_updateUIWithRemoteImageManagerResult(
        const PelmarImageResult& result) {
    auto view = typedView();
    if (!view || !result) {
        return;
    }
    if (result->image()) {
        view->setImage(uiImage(result->image()), ui::ControlState::Normal);
        view->setNeedsLayout();
    }
}

void PelmarButtonRemoteImage::pelmar_clearImages() {
    if (auto view = typedView()) {
        view->setImage(nullptr, ui::ControlState::Normal);
        view->setNeedsLayout();
    }
}

}  // namespace pelmar
