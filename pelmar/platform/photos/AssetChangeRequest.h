#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/photos/Asset.h"

namespace pelmar::photos {

// AssetChangeRequest: one creation or edit of an asset, asked for inside a change block of
// PhotoLibrary::performChanges(); the library applies it when the block returns.
// Ownership: reference object shared with the block's change set.
// Threads: only on the thread running the change block.
// Errors: every function throws std::logic_error outside a change block. Problems with the
//     files are found when the change set is applied and fail the whole performChanges().
class AssetChangeRequest {
public:
    // A new asset from a picture or movie file; the library keeps its own copy, so the file may
    // go once the change is done. The creation date is now; the subtypes none.
    static std::shared_ptr<AssetChangeRequest> creationRequestForAssetFromImage(
            const std::filesystem::path& file);
    static std::shared_ptr<AssetChangeRequest> creationRequestForAssetFromVideo(
            const std::filesystem::path& file);

    // An edit of an existing asset.
    static std::shared_ptr<AssetChangeRequest> changeRequestForAsset(const Asset& asset);

    static void deleteAssets(const std::vector<std::string>& localIdentifiers);

    // The identifier the new asset will have (creation requests; the asset's own for edits).
    const std::string& placeholderForCreatedAsset() const { return localIdentifier_; }

    void setCreationDate(std::optional<double> secondsSince1970) {
        creationDate_.emplace(secondsSince1970);
    }

    void setLocation(std::optional<Location> location) { location_.emplace(location); }

    void setFavorite(bool favorite) { favorite_ = favorite; }

    explicit AssetChangeRequest(std::string localIdentifier)
        : localIdentifier_(std::move(localIdentifier)) {}

private:
    friend class PhotoLibrary;

    static std::shared_ptr<AssetChangeRequest> creation(AssetMediaType kind,
                                                        const std::filesystem::path& file,
                                                        const char* what);

    std::optional<std::filesystem::path> file_;
    AssetMediaType kind_ = AssetMediaType::Unknown;
    bool create_ = false;
    std::optional<std::optional<double>> creationDate_;
    std::optional<std::optional<Location>> location_;
    std::optional<bool> favorite_;
    std::string localIdentifier_;
};

}  // namespace pelmar::photos
