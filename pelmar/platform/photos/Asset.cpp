#include "pelmar/platform/photos/Asset.h"

#include <algorithm>
#include <stdexcept>

#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/FetchOptions.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/internal/AssetKeys.h"
#include "pelmar/platform/photos/internal/Fetching.h"

namespace pelmar::photos {

namespace internal {

bool libraryReadable() {
    const auto status = PhotoLibrary::authorizationStatus();
    return status == AuthorizationStatus::Authorized || status == AuthorizationStatus::Limited;
}

std::vector<AssetPtr> applyOptions(std::vector<AssetPtr> assets, const FetchOptions* options) {
    if (!options) {
        return assets;
    }
    if (options->predicate) {
        std::erase_if(assets, [&](const AssetPtr& a) { return !options->predicate->evaluate(*a); });
    }
    for (const auto& sort : options->sortDescriptors) {
        if (!isAssetKey(sort.key)) {
            throw std::invalid_argument("unknown sort key \"" + sort.key + "\"");
        }
    }
    if (!options->sortDescriptors.empty()) {
        std::stable_sort(assets.begin(), assets.end(), [&](const AssetPtr& a, const AssetPtr& b) {
            for (const auto& sort : options->sortDescriptors) {
                const auto va = assetKeyValue(*a, sort.key);
                const auto vb = assetKeyValue(*b, sort.key);
                if (va == vb) {
                    continue;
                }
                // An absent value sorts before any value.
                const bool less = !va || (vb && *va < *vb);
                return sort.ascending ? less : !less;
            }
            return false;
        });
    }
    if (options->fetchLimit > 0 && assets.size() > options->fetchLimit) {
        assets.resize(options->fetchLimit);
    }
    return assets;
}

}  // namespace internal

namespace {

std::vector<AssetPtr> membersOf(const AssetCollection& collection, const LibraryState& state) {
    std::vector<AssetPtr> out;
    switch (collection.assetCollectionSubtype()) {
        case AssetCollectionSubtype::SmartAlbumUserLibrary:
            return state.assets;
        case AssetCollectionSubtype::SmartAlbumFavorites:
            std::copy_if(state.assets.begin(), state.assets.end(), std::back_inserter(out),
                         [](const AssetPtr& a) { return a->isFavorite(); });
            return out;
        case AssetCollectionSubtype::SmartAlbumVideos:
            std::copy_if(state.assets.begin(), state.assets.end(), std::back_inserter(out),
                         [](const AssetPtr& a) { return a->mediaType() == AssetMediaType::Video; });
            return out;
        default:
            break;
    }
    // A user album as it stands in `state` (gone: empty), members that still exist, in order.
    for (const auto& album : state.albums) {
        if (album->localIdentifier() != collection.localIdentifier()) {
            continue;
        }
        for (const auto& id : album->members()) {
            for (const auto& a : state.assets) {
                if (a->localIdentifier() == id) {
                    out.push_back(a);
                }
            }
        }
    }
    return out;
}

template <class Select>
FetchResult<Asset> fetch(Select select, const FetchOptions* options) {
    std::optional<FetchOptions> kept;
    if (options) {
        kept = *options;
    }
    FetchResult<Asset>::Query query = [select, kept](const LibraryState& state) {
        if (!internal::libraryReadable()) {
            return std::vector<AssetPtr>();
        }
        return internal::applyOptions(select(state), kept ? &*kept : nullptr);
    };
    auto objects = query(*PhotoLibrary::shared().state());
    return FetchResult<Asset>(std::move(objects), std::move(query));
}

}  // namespace

FetchResult<Asset> Asset::fetchAssets(const FetchOptions* options) {
    return fetch([](const LibraryState& state) { return state.assets; }, options);
}

FetchResult<Asset> Asset::fetchAssets(const AssetCollection& collection,
                                      const FetchOptions* options) {
    auto kept = std::make_shared<const AssetCollection>(collection);
    return fetch([kept](const LibraryState& state) { return membersOf(*kept, state); }, options);
}

FetchResult<Asset> Asset::fetchAssets(const std::vector<std::string>& localIdentifiers) {
    return fetch(
            [localIdentifiers](const LibraryState& state) {
                std::vector<AssetPtr> out;
                for (const auto& id : localIdentifiers) {
                    for (const auto& a : state.assets) {
                        if (a->localIdentifier() == id) {
                            out.push_back(a);
                        }
                    }
                }
                return out;
            },
            nullptr);
}

}  // namespace pelmar::photos
