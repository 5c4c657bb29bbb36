#pragma once

#include <memory>
#include <string>

#include "pelmar/picker/AssetStore.h"
#include "pelmar/picker/Settings.h"
#include "pelmar/platform/photos/FetchResult.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/CollectionView.h"

namespace pelmar {

class AssetCollectionViewCell;

// The duration text of a grid cell: minutes and two-digit seconds, minutes not capped ("0:03",
// "1:05", "62:05"); fractions of a second are rounded to the nearest second.
std::string formatDuration(double seconds);

// AssetsCollectionViewDataSource: the cells of the asset grid: a video cell with its duration for
// movies, an asset cell otherwise; square thumbnails at `imageSize` pixels through a caching image
// manager (a reused cell cancels its previous request, and only an answer to the cell's current
// request is shown); prefetching caches ahead at the same size.
// Ownership: reference object from std::make_shared, held by its grid; shares the store and
// settings.
// Threads: main thread only.
// Errors: none; a thumbnail that cannot be made leaves its cell blank.
class AssetsCollectionViewDataSource : public ui::CollectionViewDataSource,
                                       public ui::CollectionViewDataSourcePrefetching {
public:
    static constexpr const char* kAssetCell = "AssetCell";
    static constexpr const char* kVideoCell = "VideoCell";

    AssetsCollectionViewDataSource(photos::FetchResult<photos::Asset> fetchResult,
                                   std::shared_ptr<AssetStore> store,
                                   std::shared_ptr<photos::ImageManager> imageManager = nullptr);

    static void registerCellIdentifiers(ui::CollectionView* collectionView);

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }

    const photos::FetchResult<photos::Asset>& fetchResult() const { return fetchResult_; }

    // Stops all caching.
    void setFetchResult(photos::FetchResult<photos::Asset> result);

    photos::PixelSize imageSize() const { return imageSize_; }

    // Stops all caching.
    void setImageSize(photos::PixelSize size);

    const std::shared_ptr<photos::ImageManager>& imageManager() const { return imageManager_; }

    int numberOfSections(ui::CollectionView&) override { return 1; }

    int numberOfItems(ui::CollectionView& collection, int section) override;

    std::shared_ptr<ui::ItemCell> cellForItem(ui::CollectionView& collection,
                                              ui::IndexPath path) override;

    void prefetchItems(const std::vector<ui::IndexPath>& paths);

    // The grid scrolls towards these items: their thumbnails are cached ahead.
    void prefetchItems(ui::CollectionView& collection,
                       const std::vector<ui::IndexPath>& paths) override {
        (void)collection;
        prefetchItems(paths);
    }

    void loadImage(const photos::AssetPtr& asset, AssetCollectionViewCell& cell);

private:
    std::shared_ptr<Settings> settings_;
    photos::FetchResult<photos::Asset> fetchResult_;
    photos::PixelSize imageSize_;
    std::shared_ptr<photos::ImageManager> imageManager_;
    std::shared_ptr<AssetStore> store_;
};

}  // namespace pelmar
