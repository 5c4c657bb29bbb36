#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConstants.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/StringConversions.h"
#include "pelmar/picker/ImagePickerController.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/ImageManager.h"

namespace pelmar {

namespace {

using Assets = std::vector<photos::AssetPtr>;
using Words = std::vector<std::string>;

// The media list the picker gets: type identifiers of movies and videos become "video", of
// images "image", so that the default list offers what it names.
Words pickerMediaTypes(const Words& types) {
    Words out;
    for (const auto& type : types) {
        if (type == kUTTypeMovie || type == kUTTypeVideo) {
            out.push_back("video");
        } else if (type == kUTTypeImage) {
            out.push_back("image");
        } else {
            out.push_back(type);
        }
    }
    return out;
}

// The kind word and file URL of one asset (none for kinds without a file).
void getAssetURL(const photos::AssetPtr& asset,
                 std::function<void(std::string, std::optional<std::string>)> callback) {
    auto manager = photos::ImageManager::defaultManager();
    auto toURL = [](const std::optional<std::filesystem::path>& file) {
        return file ? std::optional(foundation::fileURLFromPath(*file)) : std::nullopt;
    };
    if (asset && asset->mediaType() == photos::AssetMediaType::Image) {
        manager->requestContentEditingInput(
                asset, [callback, toURL](auto file) { callback("image", toURL(file)); });
    } else if (asset && asset->mediaType() == photos::AssetMediaType::Video) {
        manager->requestAVAsset(asset,
                                [callback, toURL](auto file) { callback("video", toURL(file)); });
    } else {
        callback("undefined", std::nullopt);
    }
}

}  // namespace

void Pelmar::selectUploadAssets(std::shared_ptr<const Assets> assets,
                                size_t index,
                                Words mediaTypes,
                                Words paths) {
    if (index >= assets->size()) {
        if (auto delegate = fileSelectorDelegate()) {
            delegate->uploadSelected(paths);
        }
        uploadFilesFromPath(0, std::move(mediaTypes), std::move(paths));
        return;
    }
    std::weak_ptr<Pelmar> weak = weak_from_this();
    getAssetURL((*assets)[index], [weak, assets, index, mediaTypes, paths](
                                          std::string type,
                                          std::optional<std::string> url) mutable {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (url) {
            mediaTypes.push_back(std::move(type));
            paths.push_back(std::move(*url));
        }
        self->selectUploadAssets(assets, index + 1, std::move(mediaTypes), std::move(paths));
    });
}

void Pelmar::uploadFromFileSelector(const std::optional<Json>& options) {
    float maxDuration = 0;
    const bool given = options && options->is_object() && !options->empty();
    if (given && options->contains("maxDuration")) {
        const Json& value = (*options)["maxDuration"];
        maxDuration = toFloat(value.is_string() ? value.get<std::string>() : value.dump());
    }
    Words mediaTypes;
    if (given && options->contains("media_type") && (*options)["media_type"].is_array()) {
        for (const Json& type : (*options)["media_type"]) {
            if (type.is_string()) {
                mediaTypes.push_back(type.get<std::string>());
            }
        }
    } else if (auto config = getFileSelectorConfig(); config && !config->mediaType.empty()) {
        mediaTypes = config->mediaType;
    } else {
        mediaTypes = {std::string(kUTTypeMovie), std::string(kUTTypeVideo),
                      std::string(kUTTypeAudio), std::string(kUTTypeImage)};
    }
    auto presenter = getParentViewController();
    if (!presenter) {
        log("uploadFromFileSelector: no screen to present the picker on");
        return;
    }
    std::weak_ptr<Pelmar> weak = shared_from_this();
    presentImagePicker(
            presenter, 100, pickerMediaTypes(mediaTypes), maxDuration, true, nullptr, nullptr,
            nullptr,
            [weak](const Assets& assets) {
                if (auto self = weak.lock()) {
                    self->selectUploadAssets(std::make_shared<const Assets>(assets), 0, {}, {});
                }
            },
            nullptr);
}

}  // namespace pelmar
