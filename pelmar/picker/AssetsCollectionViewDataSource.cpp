#include "pelmar/picker/AssetsCollectionViewDataSource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/internal/Animations.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

std::string formatDuration(double seconds) {
    const long long total = seconds > 0 ? std::llround(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

AssetsCollectionViewDataSource::AssetsCollectionViewDataSource(
        photos::FetchResult<photos::Asset> fetchResult,
        std::shared_ptr<AssetStore> store,
        std::shared_ptr<photos::ImageManager> imageManager)
    : fetchResult_(std::move(fetchResult)),
      imageManager_(imageManager ? std::move(imageManager)
                                 : std::make_shared<photos::ImageManager>()),
      store_(std::move(store)) {}

void AssetsCollectionViewDataSource::registerCellIdentifiers(ui::CollectionView* collectionView) {
    if (!collectionView) {
        return;
    }
    collectionView->registerCell(kAssetCell,
                                 [] { return std::make_shared<AssetCollectionViewCell>(); });
    collectionView->registerCell(kVideoCell,
                                 [] { return std::make_shared<VideoCollectionViewCell>(); });
}

void AssetsCollectionViewDataSource::setFetchResult(photos::FetchResult<photos::Asset> result) {
    fetchResult_ = std::move(result);
    imageManager_->stopCachingImagesForAllAssets();
}

void AssetsCollectionViewDataSource::setImageSize(photos::PixelSize size) {
    imageSize_ = size;
    imageManager_->stopCachingImagesForAllAssets();
}

int AssetsCollectionViewDataSource::numberOfItems(ui::CollectionView&, int) {
    return static_cast<int>(fetchResult_.count());
}

std::shared_ptr<ui::ItemCell> AssetsCollectionViewDataSource::cellForItem(
        ui::CollectionView& collection, ui::IndexPath path) {
    const auto& asset = fetchResult_.objectAt(static_cast<std::size_t>(path.item));
    std::shared_ptr<AssetCollectionViewCell> cell;
    picker::internal::performWithoutAnimation([&] {
        if (asset->mediaType() == photos::AssetMediaType::Video) {
            auto video = std::static_pointer_cast<VideoCollectionViewCell>(
                    collection.dequeueReusableCell(kVideoCell));
            video->durationLabel()->setText(formatDuration(asset->duration()));
            cell = video;
        } else {
            cell = std::static_pointer_cast<AssetCollectionViewCell>(
                    collection.dequeueReusableCell(kAssetCell));
        }
        // The collection's selection, here rather than when the collection view takes the cell:
        // a selected cell scrolling into view shows its badge at once, without the tap's bounce.
        const auto selected = collection.indexPathsForSelectedItems();
        cell->setSelected(std::find(selected.begin(), selected.end(), path) != selected.end());
    });
    cell->setAccessibilityIdentifier("Photo " + std::to_string(path.item + 1));
    cell->setAccessibilityTraits(AssetCollectionViewCell::AccessibilityTraits::Button);
    cell->setIsAccessibilityElement(true);
    cell->setSettings(settings_);
    loadImage(asset, *cell);
    cell->setSelectionIndex(store_->index(*asset));
    return cell;
}

void AssetsCollectionViewDataSource::loadImage(const photos::AssetPtr& asset,
                                               AssetCollectionViewCell& cell) {
    if (cell.tag() != 0) {
        imageManager_->cancelImageRequest(cell.tag());
    }
    const photos::ImageRequestOptions options = settings_->fetch()->preview()->photoOptions();
    auto weakCell = std::weak_ptr<ui::View>(cell.shared_from_this());
    auto request = std::make_shared<photos::ImageRequestID>(photos::kInvalidImageRequestID);
    *request = imageManager_->requestImage(
            asset, imageSize_, photos::ImageContentMode::AspectFill, options,
            [weakCell, request](std::shared_ptr<image::Bitmap> bitmap,
                                const photos::ImageResultInfo&) {
                auto view = weakCell.lock();
                // A reused cell shows only the answer to its current request.
                if (!bitmap || !view || view->tag() != *request) {
                    return;
                }
                std::static_pointer_cast<AssetCollectionViewCell>(view)->imageView()->setImage(
                        ui::Image::fromBitmap(std::move(bitmap)));
            });
    cell.setTag(*request);
}

void AssetsCollectionViewDataSource::prefetchItems(const std::vector<ui::IndexPath>& paths) {
    std::vector<photos::AssetPtr> assets;
    for (const auto& path : paths) {
        if (path.item >= 0 && static_cast<std::size_t>(path.item) < fetchResult_.count()) {
            assets.push_back(fetchResult_.objectAt(static_cast<std::size_t>(path.item)));
        }
    }
    imageManager_->startCachingImages(assets, imageSize_, photos::ImageContentMode::AspectFill);
}

}  // namespace pelmar
