#include "pelmar/picker/AssetsViewController.h"

#include <algorithm>

#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

namespace {

// The grid's collection view: lays its items out again whenever its width changes.
class GridCollectionView : public ui::CollectionView {
public:
    std::function<void()> onWidthChange;

protected:
    void layoutSubviews() override {
        if (bounds().width != laidOutWidth_) {
            laidOutWidth_ = bounds().width;
            if (onWidthChange) {
                onWidthChange();
            }
        }
        CollectionView::layoutSubviews();
    }

private:
    double laidOutWidth_ = -1;
};

}  // namespace

AssetsViewController::AssetsViewController(std::shared_ptr<AssetStore> store)
    : store_(std::move(store)),
      collectionView_(std::make_shared<GridCollectionView>()),
      dataSource_(std::make_shared<AssetsCollectionViewDataSource>(
              photos::FetchResult<photos::Asset>(), store_)) {}

AssetsViewController::~AssetsViewController() {
    if (observing_) {
        photos::PhotoLibrary::shared().unregisterChangeObserver(this);
    }
}

void AssetsViewController::setSettings(std::shared_ptr<Settings> settings) {
    settings_ = settings;
    dataSource_->setSettings(std::move(settings));
}

std::shared_ptr<AssetCollectionViewCell> AssetsViewController::cellAt(int index) const {
    return std::dynamic_pointer_cast<AssetCollectionViewCell>(
            collectionView_->cellForItem({0, index}));
}

void AssetsViewController::loadView() {
    setView(collectionView_);
}

void AssetsViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    photos::PhotoLibrary::shared().registerChangeObserver(
            std::static_pointer_cast<AssetsViewController>(shared_from_this()));
    observing_ = true;
    setTitle(" ");
    collectionView_->setAllowsMultipleSelection(true);
    collectionView_->layer()->setBackgroundColor(settings_->theme()->backgroundColor());
    collectionView_->setDelegate(
            std::static_pointer_cast<AssetsViewController>(shared_from_this()));
    collectionView_->setDataSource(dataSource_);
    collectionView_->setPrefetchDataSource(dataSource_);
    AssetsCollectionViewDataSource::registerCellIdentifiers(collectionView_.get());
    std::weak_ptr<AssetsViewController> weak =
            std::static_pointer_cast<AssetsViewController>(shared_from_this());
    longPress_ = std::make_shared<ui::LongPressGestureRecognizer>([weak](ui::GestureRecognizer& r) {
        if (auto self = weak.lock()) {
            self->collectionViewLongPressed(r);
        }
    });
    longPress_->setMinimumPressDuration(0.5);
    std::static_pointer_cast<GridCollectionView>(collectionView_)->onWidthChange = [weak] {
        if (auto self = weak.lock()) {
            self->updateCollectionViewLayout(self->traitCollection());
        }
    };
    collectionView_->addGestureRecognizer(longPress_);
    updateCollectionViewLayout(traitCollection());
    syncSelections(store_->assets());
}

void AssetsViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    updateCollectionViewLayout(traitCollection());
}

void AssetsViewController::traitCollectionDidChange(const ui::TraitCollection& previous) {
    ViewController::traitCollectionDidChange(previous);
    updateCollectionViewLayout(traitCollection());
}

void AssetsViewController::updateCollectionViewLayout(const ui::TraitCollection& traits) {
    const double spacing = settings_->list()->spacing();
    // A host rule answering 0 or less would divide by zero: one cell per row at least.
    const auto n = static_cast<double>(
            std::max<int64_t>(1, settings_->list()->cellsPerRow()(traits.verticalSizeClass,
                                                                  traits.horizontalSizeClass)));
    const double width = collectionView_->bounds().width;
    if (width <= 0) {
        return;
    }
    const double side = (width - spacing * (n - 1)) / n;
    ui::FlowLayout layout;
    layout.minimumLineSpacing = spacing;
    layout.minimumInteritemSpacing = spacing;
    layout.itemSize = {side, side};
    const auto& current = collectionView_->layout();
    const bool changed = current.itemSize != layout.itemSize
                         || current.minimumLineSpacing != spacing
                         || current.minimumInteritemSpacing != spacing;
    collectionView_->setLayout(layout);
    const auto pixels = resize({side, side}, ui::Screen::main().scale());
    dataSource_->setImageSize({pixels.width, pixels.height});
    if (changed && collectionView_->numberOfSections() > 0) {
        // The flow layout applies at a reload.
        collectionView_->reloadData();
        syncSelections(store_->assets());
    }
}

void AssetsViewController::setFetchResult(photos::FetchResult<photos::Asset> result) {
    fetchResult_ = result;
    dataSource_->setFetchResult(std::move(result));
}

void AssetsViewController::showAssets(const photos::AssetCollection& album) {
    setFetchResult(
            photos::Asset::fetchAssets(album, settings_->fetch()->assets()->options().get()));
    collectionView_->reloadData();
    syncSelections(store_->assets());
    collectionView_->setContentOffset({0, 0}, false);
    std::vector<ui::IndexPath> ahead;
    for (const auto& path : collectionView_->indexPathsForVisibleItems()) {
        ahead.push_back({0, path.item
                                    + static_cast<int>(
                                            collectionView_->indexPathsForVisibleItems().size())});
    }
    dataSource_->prefetchItems(ahead);
}

void AssetsViewController::syncSelections(const std::vector<photos::AssetPtr>& assets) {
    collectionView_->setAllowsMultipleSelection(true);
    for (const auto& path : collectionView_->indexPathsForSelectedItems()) {
        collectionView_->deselectItem(path);
    }
    const bool numbered =
            settings_->theme()->selectionStyle() == Settings::SelectionStyle::Numbered;
    for (const auto& asset : assets) {
        const auto index = fetchResult_.indexOf(*asset);
        if (!index) {
            continue;
        }
        const ui::IndexPath path{0, static_cast<int>(*index)};
        collectionView_->selectItem(path);
        if (numbered) {
            if (auto cell = cellAt(path.item)) {
                cell->setSelectionIndex(store_->index(*asset));
            }
        }
    }
}

bool AssetsViewController::shouldSelectItem(ui::CollectionView&, ui::IndexPath) {
    auto selection = settings_->selection();
    if (store_->count() >= selection->max() && !selection->unselectOnReachingMax()) {
        return false;
    }
    feedback_.prepare();
    return true;
}

void AssetsViewController::didSelectItem(ui::CollectionView&, ui::IndexPath path) {
    feedback_.selectionChanged();
    const auto asset = fetchResult_.objectAt(static_cast<std::size_t>(path.item));
    store_->append(asset);
    if (auto d = delegate_.lock()) {
        d->assetsViewControllerDidSelectAsset(*this, asset);
    }
    updateSelectionIndexForCell(path);
}

void AssetsViewController::didDeselectItem(ui::CollectionView&, ui::IndexPath path) {
    feedback_.selectionChanged();
    const auto asset = fetchResult_.objectAt(static_cast<std::size_t>(path.item));
    store_->remove(*asset);
    if (auto d = delegate_.lock()) {
        d->assetsViewControllerDidDeselectAsset(*this, asset);
    }
    renumberSelected();
}

void AssetsViewController::renumberSelected() {
    if (settings_->theme()->selectionStyle() != Settings::SelectionStyle::Numbered) {
        return;
    }
    for (const auto& path : collectionView_->indexPathsForSelectedItems()) {
        if (auto cell = cellAt(path.item)) {
            cell->setSelectionIndex(
                    store_->index(*fetchResult_.objectAt(static_cast<std::size_t>(path.item))));
        }
    }
}

void AssetsViewController::unselect(const photos::Asset& asset) {
    if (const auto index = fetchResult_.indexOf(asset)) {
        collectionView_->deselectItem({0, static_cast<int>(*index)});
    }
    renumberSelected();
}

void AssetsViewController::updateSelectionIndexForCell(ui::IndexPath path) {
    if (settings_->theme()->selectionStyle() != Settings::SelectionStyle::Numbered) {
        return;
    }
    if (auto cell = cellAt(path.item)) {
        cell->setSelectionIndex(
                store_->index(*fetchResult_.objectAt(static_cast<std::size_t>(path.item))));
    }
}

void AssetsViewController::collectionViewLongPressed(ui::GestureRecognizer& recognizer) {
    if (!settings_->preview()->enabled()
        || recognizer.state() != ui::GestureRecognizer::State::Began) {
        return;
    }
    feedback_.selectionChanged();
    const auto path = collectionView_->indexPathForItem(recognizer.location(collectionView_.get()));
    if (!path) {
        return;
    }
    auto cell = cellAt(path->item);
    if (!cell) {
        return;
    }
    const auto asset = fetchResult_.objectAt(static_cast<std::size_t>(path->item));
    if (auto d = delegate_.lock()) {
        d->assetsViewControllerDidLongPressCell(*this, *cell, asset);
    }
}

void AssetsViewController::photoLibraryDidChange(const photos::PhotoLibraryChange& change) {
    std::weak_ptr<AssetsViewController> weak =
            std::static_pointer_cast<AssetsViewController>(shared_from_this());
    dispatch::Queue::main()->async([weak, change] {
        if (auto self = weak.lock()) {
            self->applyChange(change);
        }
    });
}

void AssetsViewController::applyChange(const photos::PhotoLibraryChange& change) {
    const auto details = change.changeDetails(fetchResult_);
    if (!details) {
        return;
    }
    if (details->hasIncrementalChanges()) {
        collectionView_->performBatchUpdates(
                [&] {
                    const auto before = details->fetchResultBeforeChanges();
                    setFetchResult(details->fetchResultAfterChanges());
                    const auto& removed = details->removedIndexes();
                    if (!removed.empty()) {
                        for (const auto& path : collectionView_->indexPathsForSelectedItems()) {
                            if (std::find(removed.begin(), removed.end(),
                                          static_cast<std::size_t>(path.item))
                                == removed.end()) {
                                continue;
                            }
                            const auto asset = before.objectAt(static_cast<std::size_t>(path.item));
                            store_->remove(*asset);
                            if (auto d = delegate_.lock()) {
                                d->assetsViewControllerDidDeselectAsset(*this, asset);
                            }
                        }
                        std::vector<ui::IndexPath> paths;
                        for (auto i : removed) {
                            paths.push_back({0, static_cast<int>(i)});
                        }
                        collectionView_->deleteItems(paths);
                    }
                    if (!details->insertedIndexes().empty()) {
                        std::vector<ui::IndexPath> paths;
                        for (auto i : details->insertedIndexes()) {
                            paths.push_back({0, static_cast<int>(i)});
                        }
                        collectionView_->insertItems(paths);
                    }
                    details->enumerateMoves([&](std::size_t from, std::size_t to) {
                        collectionView_->moveItem({0, static_cast<int>(from)},
                                                  {0, static_cast<int>(to)});
                    });
                },
                nullptr, false);
        if (!details->changedIndexes().empty()) {
            std::vector<ui::IndexPath> paths;
            for (auto i : details->changedIndexes()) {
                paths.push_back({0, static_cast<int>(i)});
            }
            collectionView_->reloadItems(paths);
        }
    } else {
        setFetchResult(details->fetchResultAfterChanges());
        collectionView_->reloadData();
    }
    syncSelections(store_->assets());
}

}  // namespace pelmar
