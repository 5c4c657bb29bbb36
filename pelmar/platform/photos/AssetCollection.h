#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/photos/FetchResult.h"
#include "pelmar/platform/photos/PhotosTypes.h"

namespace pelmar::photos {

struct FetchOptions;

// AssetCollection: an album of the photo library: a smart album the library fills by a rule (the
// user library holds every asset, favourites the favourite ones, videos the movies) or a user
// album listing assets by identifier. Equal when the identifiers are.
// Ownership: immutable reference object held by shared_ptr<const AssetCollection>.
// Threads: thread-safe (immutable).
// Errors: none; fetches answer empty results when access is not granted.
class AssetCollection {
public:
    struct Properties {
        std::string localIdentifier;
        std::optional<std::string> localizedTitle;
        AssetCollectionType type = AssetCollectionType::Album;
        AssetCollectionSubtype subtype = AssetCollectionSubtype::AlbumRegular;
        // User albums: the member assets' identifiers, in album order.
        std::vector<std::string> members;
    };

    explicit AssetCollection(Properties properties) : p_(std::move(properties)) {}

    const std::string& localIdentifier() const { return p_.localIdentifier; }

    const std::optional<std::string>& localizedTitle() const { return p_.localizedTitle; }

    AssetCollectionType assetCollectionType() const { return p_.type; }

    AssetCollectionSubtype assetCollectionSubtype() const { return p_.subtype; }

    const std::vector<std::string>& members() const { return p_.members; }

    // The collections of `type` whose subtype is `subtype` (Any: every subtype), smart albums in
    // the order user library, favourites, videos, user albums in the order made; `options`
    // limits the count (its predicate and sort apply to assets and are ignored here).
    static FetchResult<AssetCollection> fetchAssetCollections(
            AssetCollectionType type,
            AssetCollectionSubtype subtype,
            const FetchOptions* options = nullptr);

    bool operator==(const AssetCollection& other) const {
        return p_.localIdentifier == other.p_.localIdentifier;
    }

private:
    Properties p_;
};

using AssetCollectionPtr = std::shared_ptr<const AssetCollection>;

}  // namespace pelmar::photos
