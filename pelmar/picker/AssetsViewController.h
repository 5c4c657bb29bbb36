#pragma once

#include <memory>
#include <optional>

#include "pelmar/picker/AssetStore.h"
#include "pelmar/picker/AssetsCollectionViewDataSource.h"
#include "pelmar/picker/Settings.h"
#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/CollectionView.h"
#include "pelmar/platform/ui/LongPressGestureRecognizer.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

class AssetCollectionViewCell;
class AssetsViewController;

// SelectionFeedbackGenerator: the haptic tick of selections (counted, since there is no motor).
struct SelectionFeedbackGenerator {
    int prepared = 0;
    int selectionsChanged = 0;

    void prepare() { ++prepared; }

    void selectionChanged() { ++selectionsChanged; }
};

// AssetsViewControllerDelegate: what the grid reports to the picker.
class AssetsViewControllerDelegate {
public:
    virtual ~AssetsViewControllerDelegate() = default;
    // The asset was just appended to the store.
    virtual void assetsViewControllerDidSelectAsset(AssetsViewController& grid,
                                                    const photos::AssetPtr& asset) = 0;
    // The asset was just removed from the store.
    virtual void assetsViewControllerDidDeselectAsset(AssetsViewController& grid,
                                                      const photos::AssetPtr& asset) = 0;
    virtual void assetsViewControllerDidLongPressCell(AssetsViewController& grid,
                                                      AssetCollectionViewCell& cell,
                                                      const photos::AssetPtr& asset) = 0;
};

// AssetsViewController: the picker's grid of one album's assets: taps select and deselect against
// the shared store (refused at the limit unless the oldest is to be dropped), badges show the
// selection order, a long press asks for a preview, and library changes are applied while it
// lives: incrementally when the change allows, by a reload otherwise, and always with the
// selection rebuilt from the store. Change details are computed on the main queue against the
// fetch result shown there, so an album switch or a second change in between never meets stale
// indexes.
// Ownership: reference object from std::make_shared; the picker holds it; it refers to its
// delegate weakly; the photo library holds it weakly as a change observer.
// Threads: main thread only, except photoLibraryDidChange (library queue), which only hops.
// Errors: none; settings must be set before the view loads.
class AssetsViewController : public ui::ViewController,
                             public ui::CollectionViewDelegate,
                             public photos::PhotoLibraryChangeObserver {
public:
    explicit AssetsViewController(std::shared_ptr<AssetStore> store);
    ~AssetsViewController() override;

    void setDelegate(std::weak_ptr<AssetsViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    std::shared_ptr<Settings> settings() const { return settings_; }

    void setSettings(std::shared_ptr<Settings> settings);

    const photos::FetchResult<photos::Asset>& fetchResult() const { return fetchResult_; }

    void showAssets(const photos::AssetCollection& album);

    // Clears the asset's selection in the grid (the store is the caller's), then renumbers.
    void unselect(const photos::Asset& asset);

    const std::shared_ptr<ui::CollectionView>& collectionView() const { return collectionView_; }

    const std::shared_ptr<AssetsCollectionViewDataSource>& dataSource() const {
        return dataSource_;
    }

    const std::shared_ptr<ui::LongPressGestureRecognizer>& longPressRecognizer() const {
        return longPress_;
    }

    const SelectionFeedbackGenerator& selectionFeedback() const { return feedback_; }

    // The visible cell of item `index`, or null.
    std::shared_ptr<AssetCollectionViewCell> cellAt(int index) const;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void traitCollectionDidChange(const ui::TraitCollection& previous) override;

    bool shouldSelectItem(ui::CollectionView& collection, ui::IndexPath path) override;
    void didSelectItem(ui::CollectionView& collection, ui::IndexPath path) override;
    void didDeselectItem(ui::CollectionView& collection, ui::IndexPath path) override;

    void photoLibraryDidChange(const photos::PhotoLibraryChange& change) override;

    void collectionViewLongPressed(ui::GestureRecognizer& recognizer);

    // Lays the items out for the size classes of `traits` (the settings' cells per row).
    void updateCollectionViewLayout(const ui::TraitCollection& traits);

protected:
    // The collection view is the screen's view.
    void loadView() override;

private:
    void syncSelections(const std::vector<photos::AssetPtr>& assets);
    void renumberSelected();
    void updateSelectionIndexForCell(ui::IndexPath path);
    void applyChange(const photos::PhotoLibraryChange& change);
    void setFetchResult(photos::FetchResult<photos::Asset> result);

    std::weak_ptr<AssetsViewControllerDelegate> delegate_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<AssetStore> store_;
    std::shared_ptr<ui::CollectionView> collectionView_;
    photos::FetchResult<photos::Asset> fetchResult_;
    std::shared_ptr<AssetsCollectionViewDataSource> dataSource_;
    std::shared_ptr<ui::LongPressGestureRecognizer> longPress_;
    SelectionFeedbackGenerator feedback_;
    bool observing_ = false;
};

}  // namespace pelmar
