#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/photos/FetchResult.h"
#include "pelmar/platform/photos/PhotosTypes.h"

namespace pelmar::photos {

class AssetCollection;
struct FetchOptions;

// Asset: one picture or movie of the photo library, as it stood when it was fetched: identifier,
// kind, size, duration, dates, place, and the real file behind it. An edit of the library makes a
// new Asset with the same identifier, so two assets are equal when their identifiers are.
// Ownership: immutable reference object held by shared_ptr<const Asset>; fetch results and the
// library share it.
// Threads: thread-safe (immutable).
// Errors: none; the fetch functions answer empty results when access is not granted.
class Asset {
public:
    struct Properties {
        std::string localIdentifier;
        AssetMediaType mediaType = AssetMediaType::Unknown;
        uint32_t mediaSubtypes = kAssetMediaSubtypeNone;
        int pixelWidth = 0;
        int pixelHeight = 0;
        double duration = 0;                     // seconds; 0 for pictures
        std::optional<double> creationDate;      // seconds since 1970-01-01 00:00 UTC
        std::optional<double> modificationDate;  // likewise
        std::optional<Location> location;
        bool isFavorite = false;
        std::filesystem::path file;  // the picture or movie itself
        // A live photo's movie half (the still is `file`).
        std::optional<std::filesystem::path> pairedVideo;
        // Only the cloud library holds the full picture: the image manager downloads `file`
        // (network access must be allowed) before it delivers a final picture; quick degraded
        // versions come from the device.
        bool inCloud = false;
        // Grows by one with every edit of the asset.
        int64_t revision = 0;
    };

    explicit Asset(Properties properties) : p_(std::move(properties)) {}

    const std::string& localIdentifier() const { return p_.localIdentifier; }

    AssetMediaType mediaType() const { return p_.mediaType; }

    uint32_t mediaSubtypes() const { return p_.mediaSubtypes; }

    int pixelWidth() const { return p_.pixelWidth; }

    int pixelHeight() const { return p_.pixelHeight; }

    double duration() const { return p_.duration; }

    std::optional<double> creationDate() const { return p_.creationDate; }

    std::optional<double> modificationDate() const { return p_.modificationDate; }

    std::optional<Location> location() const { return p_.location; }

    bool isFavorite() const { return p_.isFavorite; }

    // The full-size file (what a content-editing input hands out as its file URL).
    const std::filesystem::path& file() const { return p_.file; }

    const std::optional<std::filesystem::path>& pairedVideo() const { return p_.pairedVideo; }

    bool isInCloud() const { return p_.inCloud; }

    int64_t revision() const { return p_.revision; }

    const Properties& properties() const { return p_; }

    // The assets of the shared library (all of them, or those of `collection`), filtered, sorted
    // and limited by `options` (none: every asset, oldest first).
    static FetchResult<Asset> fetchAssets(const FetchOptions* options = nullptr);
    static FetchResult<Asset> fetchAssets(const AssetCollection& collection,
                                          const FetchOptions* options = nullptr);
    // The assets with these identifiers that exist, in the order given.
    static FetchResult<Asset> fetchAssets(const std::vector<std::string>& localIdentifiers);

    bool operator==(const Asset& other) const {
        return p_.localIdentifier == other.p_.localIdentifier;
    }

private:
    Properties p_;
};

using AssetPtr = std::shared_ptr<const Asset>;

}  // namespace pelmar::photos
