#pragma once

#include <memory>
#include <set>
#include <vector>

#include "pelmar/platform/ui/ItemsView.h"

namespace pelmar::ui {

class CollectionView;

// CollectionViewDataSource: the sections and items of a collection and their cells.
// Ownership: held weakly by its collection view.
// Threads: main thread only.
// Errors: none.
class CollectionViewDataSource {
public:
    virtual ~CollectionViewDataSource() = default;

    virtual int numberOfSections(CollectionView& /*collection*/) { return 1; }

    virtual int numberOfItems(CollectionView& collection, int section) = 0;

    virtual std::shared_ptr<ItemCell> cellForItem(CollectionView& collection, IndexPath path) = 0;
};

// CollectionViewDelegate: what the user selects, and cells coming and going.
// Ownership: held weakly by its collection view.
// Threads: main thread only.
// Errors: none.
class CollectionViewDelegate {
public:
    virtual ~CollectionViewDelegate() = default;

    // Whether a user's tap may select the item; a refused tap changes nothing.
    virtual bool shouldSelectItem(CollectionView& /*collection*/, IndexPath /*path*/) {
        return true;
    }

    virtual void didSelectItem(CollectionView& /*collection*/, IndexPath /*path*/) {}

    virtual void didDeselectItem(CollectionView& /*collection*/, IndexPath /*path*/) {}

    virtual void willDisplay(CollectionView& /*collection*/,
                             ItemCell& /*cell*/,
                             IndexPath /*path*/) {}

    virtual void didEndDisplaying(CollectionView& /*collection*/,
                                  ItemCell& /*cell*/,
                                  IndexPath /*path*/) {}
};

// CollectionViewDataSourcePrefetching: told ahead of time about the items a scroll is about to
// bring on screen (those within one screenful past the visible area, in the scroll's direction),
// and about those that left that band before showing, so that their data can be readied early.
// Ownership: held weakly by its collection view.
// Threads: main thread only.
// Errors: none.
class CollectionViewDataSourcePrefetching {
public:
    virtual ~CollectionViewDataSourcePrefetching() = default;

    // Each item is named once while it stays in the band, in layout order.
    virtual void prefetchItems(CollectionView& collection, const std::vector<IndexPath>& paths) = 0;

    virtual void cancelPrefetching(CollectionView& /*collection*/,
                                   const std::vector<IndexPath>& /*paths*/) {}
};

// FlowLayout: how a collection view lays items out: rows of equal items filling its width, left
// to right then top to bottom, section after section.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none; at least one item goes in a row.
struct FlowLayout {
    Size itemSize{50, 50};
    double minimumInteritemSpacing = 10;
    double minimumLineSpacing = 10;
    EdgeInsets sectionInset;
};

// CollectionView: items in a flow layout (see ItemsView for cells, updates and selection).
// Ownership: reference object made with std::make_shared; refers to its data source and delegate
// weakly.
// Threads: main thread only.
// Errors: as ItemsView.
class CollectionView : public ItemsView {
public:
    explicit CollectionView(Rect frame = {}, FlowLayout layout = {});

    void setDataSource(std::weak_ptr<CollectionViewDataSource> source) {
        dataSource_ = std::move(source);
    }

    void setDelegate(std::weak_ptr<CollectionViewDelegate> delegate) {
        collectionDelegate_ = std::move(delegate);
    }

    void setPrefetchDataSource(std::weak_ptr<CollectionViewDataSourcePrefetching> source) {
        prefetchDataSource_ = std::move(source);
    }

    const FlowLayout& layout() const { return layout_; }

    // Takes effect at the next reload.
    void setLayout(FlowLayout layout) { layout_ = layout; }

    // Items per row at the current width.
    int columns() const;

protected:
    int dataSourceSections() override;
    int dataSourceItems(int section) override;
    std::shared_ptr<ItemCell> dataSourceCell(IndexPath path) override;
    Size contentSizeForItems() override;
    Rect itemFrame(IndexPath path) const override;
    bool shouldSelect(IndexPath path) override;
    void didSelect(IndexPath path) override;
    void didDeselect(IndexPath path) override;
    void willDisplay(ItemCell& cell, IndexPath path) override;
    void didEndDisplaying(ItemCell& cell, IndexPath path) override;
    void contentOffsetDidChange() override;

    std::string className() const override { return "CollectionView"; }

private:
    FlowLayout layout_;
    std::vector<double> sectionTops_;
    std::weak_ptr<CollectionViewDataSource> dataSource_;
    std::weak_ptr<CollectionViewDelegate> collectionDelegate_;
    std::weak_ptr<CollectionViewDataSourcePrefetching> prefetchDataSource_;
    // The items in the prefetch band after the last scroll, and the offset it was taken at.
    std::set<IndexPath> prefetchBand_;
    double prefetchOffset_ = 0;
};

}  // namespace pelmar::ui
