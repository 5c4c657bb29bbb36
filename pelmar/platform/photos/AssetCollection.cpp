#include "pelmar/platform/photos/AssetCollection.h"

#include "pelmar/platform/photos/FetchOptions.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/internal/Fetching.h"

namespace pelmar::photos {

namespace {

AssetCollectionPtr smartAlbum(AssetCollectionSubtype subtype, const char* id, const char* title) {
    return std::make_shared<AssetCollection>(AssetCollection::Properties{
            id, std::string(title), AssetCollectionType::SmartAlbum, subtype, {}});
}

}  // namespace

FetchResult<AssetCollection> AssetCollection::fetchAssetCollections(AssetCollectionType type,
                                                                    AssetCollectionSubtype subtype,
                                                                    const FetchOptions* options) {
    const std::size_t limit = options ? options->fetchLimit : 0;
    FetchResult<AssetCollection>::Query query = [type, subtype, limit](const LibraryState& state) {
        std::vector<AssetCollectionPtr> out;
        if (!internal::libraryReadable()) {
            return out;
        }
        auto wanted = [&](AssetCollectionSubtype s) {
            return subtype == AssetCollectionSubtype::Any || subtype == s;
        };
        if (type == AssetCollectionType::SmartAlbum) {
            static const AssetCollectionPtr kSmart[] = {
                    smartAlbum(AssetCollectionSubtype::SmartAlbumUserLibrary, "smart-library",
                               "Recents"),
                    smartAlbum(AssetCollectionSubtype::SmartAlbumFavorites, "smart-favorites",
                               "Favorites"),
                    smartAlbum(AssetCollectionSubtype::SmartAlbumVideos, "smart-videos", "Videos"),
            };
            for (const auto& album : kSmart) {
                if (wanted(album->assetCollectionSubtype())) {
                    out.push_back(album);
                }
            }
        } else {
            for (const auto& album : state.albums) {
                if (wanted(album->assetCollectionSubtype())) {
                    out.push_back(album);
                }
            }
        }
        if (limit > 0 && out.size() > limit) {
            out.resize(limit);
        }
        return out;
    };
    auto objects = query(*PhotoLibrary::shared().state());
    return FetchResult<AssetCollection>(std::move(objects), std::move(query));
}

}  // namespace pelmar::photos
