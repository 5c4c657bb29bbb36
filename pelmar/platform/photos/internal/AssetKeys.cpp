#include "pelmar/platform/photos/internal/AssetKeys.h"

#include "pelmar/platform/photos/Asset.h"

namespace pelmar::photos::internal {

bool isAssetKey(std::string_view key) {
    return key == "mediaType" || key == "mediaSubtypes" || key == "duration" || key == "pixelWidth"
           || key == "pixelHeight" || key == "isFavorite" || key == "creationDate"
           || key == "modificationDate";
}

std::optional<double> assetKeyValue(const Asset& asset, std::string_view key) {
    if (key == "mediaType") {
        return static_cast<double>(asset.mediaType());
    }
    if (key == "mediaSubtypes") {
        return static_cast<double>(asset.mediaSubtypes());
    }
    if (key == "duration") {
        return asset.duration();
    }
    if (key == "pixelWidth") {
        return asset.pixelWidth();
    }
    if (key == "pixelHeight") {
        return asset.pixelHeight();
    }
    if (key == "isFavorite") {
        return asset.isFavorite() ? 1.0 : 0.0;
    }
    if (key == "creationDate") {
        return asset.creationDate();
    }
    if (key == "modificationDate") {
        return asset.modificationDate();
    }
    return std::nullopt;
}

}  // namespace pelmar::photos::internal
