#pragma once

#include <memory>
#include <string>
#include <variant>

#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/platform/photos/Asset.h"

namespace pelmar {

class PelmarBackLoadedImageSource;

// A URL to load through the shared image manager.
struct PelmarImageURL {
    std::string url;
};

// Something the image viewer can show on a page: nothing it knows (std::monostate; the page
// shows the error alert), a decoded image, a URL, a string holding a URL or an absolute file path,
// a photo-library asset (a still photo, or a live photo when its subtypes hold the live bit), an
// animated image, or a back-loaded source.
using PelmarImageSource = std::variant<std::monostate,
                                       PelmarImage,
                                       PelmarImageURL,
                                       std::string,
                                       photos::AssetPtr,
                                       std::shared_ptr<PelmarCachedAnimatedImage>,
                                       std::shared_ptr<PelmarBackLoadedImageSource>>;

}  // namespace pelmar
