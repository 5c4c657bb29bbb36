#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarImages.h"
#include "pelmar/imageviewer/PelmarImageViewController.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"

namespace pelmar {

void Pelmar::showImage(std::vector<std::string> tokens) {
    if (tokens.empty()) {
        return;
    }
    const auto service = images();
    if (!service) {
        return;
    }
    ImagePaths urls;
    for (const auto& token : tokens) {
        urls.paths.push_back(service->getImageUrl(token));
    }
    showImage(std::move(urls));
}

void Pelmar::showImage(ImagePaths paths) {
    if (paths.paths.empty()) {
        return;
    }
    std::vector<PelmarImageSource> sources;
    for (auto& path : paths.paths) {
        sources.emplace_back(std::move(path));
    }
    auto viewer = std::make_shared<PelmarImageViewController>(std::move(sources));
    viewer->startingIndex = 0;
    viewer->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (auto parent = getParentViewController()) {
        parent->present(viewer, true);
    }
}

}  // namespace pelmar
