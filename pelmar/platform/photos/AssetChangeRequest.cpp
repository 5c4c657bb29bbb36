#include "pelmar/platform/photos/AssetChangeRequest.h"

#include <stdexcept>

#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/internal/PendingChanges.h"

namespace pelmar::photos {

namespace {

PhotoLibrary::PendingChanges& pending(const char* what) {
    auto* changes = PhotoLibrary::currentChanges();
    if (!changes) {
        throw std::logic_error(std::string(what) + " outside a photo library change block");
    }
    return *changes;
}

}  // namespace

std::shared_ptr<AssetChangeRequest> AssetChangeRequest::creation(AssetMediaType kind,
                                                                 const std::filesystem::path& file,
                                                                 const char* what) {
    auto& changes = pending(what);
    auto request = std::make_shared<AssetChangeRequest>(PhotoLibrary::shared().reserveIdentifier());
    request->create_ = true;
    request->kind_ = kind;
    request->file_ = file;
    changes.requests.push_back(request);
    return request;
}

std::shared_ptr<AssetChangeRequest> AssetChangeRequest::creationRequestForAssetFromImage(
        const std::filesystem::path& file) {
    return creation(AssetMediaType::Image, file, "creationRequestForAssetFromImage");
}

std::shared_ptr<AssetChangeRequest> AssetChangeRequest::creationRequestForAssetFromVideo(
        const std::filesystem::path& file) {
    return creation(AssetMediaType::Video, file, "creationRequestForAssetFromVideo");
}

std::shared_ptr<AssetChangeRequest> AssetChangeRequest::changeRequestForAsset(const Asset& asset) {
    auto& changes = pending("changeRequestForAsset");
    auto request = std::make_shared<AssetChangeRequest>(asset.localIdentifier());
    changes.requests.push_back(request);
    return request;
}

void AssetChangeRequest::deleteAssets(const std::vector<std::string>& localIdentifiers) {
    auto& changes = pending("deleteAssets");
    changes.deletions.insert(changes.deletions.end(), localIdentifiers.begin(),
                             localIdentifiers.end());
}

}  // namespace pelmar::photos
