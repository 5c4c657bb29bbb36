#pragma once

#include <memory>
#include <string>
#include <variant>

#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/platform/photos/Asset.h"

namespace pelmar {

class PelmarBackLoadedImageSource;

// PelmarImageURL: a URL to load through the shared image manager.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none here; a URL that cannot be loaded makes its page show the error alert.
struct PelmarImageURL {
    std::string url;
};

// PelmarImageSource: something the image viewer can show on a page: nothing it knows
// (std::monostate; the page shows the error alert), a decoded image, a URL, a string holding a
// URL or an absolute file path, a photo-library asset (a still photo, or a live photo when its
// subtypes hold the live bit), an animated image, or a back-loaded source.
// Ownership: value type; it shares the image, asset, animated image or source it holds with
//     whoever else holds them.
// Threads: thread-compatible; pages read their source on the main thread.
// Errors: none here; a source that cannot be shown makes its page show the error alert, or an
//     empty page for a photo the library cannot give.
using PelmarImageSource = std::variant<std::monostate,
                                       PelmarImage,
                                       PelmarImageURL,
                                       std::string,
                                       photos::AssetPtr,
                                       std::shared_ptr<PelmarCachedAnimatedImage>,
                                       std::shared_ptr<PelmarBackLoadedImageSource>>;

}  // namespace pelmar
