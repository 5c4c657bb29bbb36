#include "pelmar/platform/ui/CollectionView.h"

#include <algorithm>
#include <cmath>

namespace pelmar::ui {

CollectionView::CollectionView(Rect frame, FlowLayout layout) : ItemsView(frame), layout_(layout) {}

int CollectionView::columns() const {
    const double width = bounds().width - layout_.sectionInset.left - layout_.sectionInset.right;
    const double step = layout_.itemSize.width + layout_.minimumInteritemSpacing;
    if (step <= 0) {
        return 1;
    }
    return std::max(1,
                    static_cast<int>(std::floor((width + layout_.minimumInteritemSpacing) / step)));
}

int CollectionView::dataSourceSections() {
    auto source = dataSource_.lock();
    return source ? source->numberOfSections(*this) : 0;
}

int CollectionView::dataSourceItems(int section) {
    auto source = dataSource_.lock();
    return source ? source->numberOfItems(*this, section) : 0;
}

std::shared_ptr<ItemCell> CollectionView::dataSourceCell(IndexPath path) {
    auto source = dataSource_.lock();
    return source ? source->cellForItem(*this, path) : nullptr;
}

Size CollectionView::contentSizeForItems() {
    const int perRow = columns();
    const auto& inset = layout_.sectionInset;
    sectionTops_.clear();
    double y = 0;
    for (int count : counts()) {
        sectionTops_.push_back(y);
        const int rows = (count + perRow - 1) / perRow;
        const double body = rows == 0 ? 0
                                      : rows * layout_.itemSize.height
                                                + (rows - 1) * layout_.minimumLineSpacing;
        y += inset.top + body + inset.bottom;
    }
    return {bounds().width, y};
}

Rect CollectionView::itemFrame(IndexPath path) const {
    const auto s = static_cast<std::size_t>(path.section);
    if (s >= sectionTops_.size() || path.item < 0 || path.item >= numberOfItems(path.section)) {
        return {};
    }
    const int perRow = columns();
    const int row = path.item / perRow;
    const int column = path.item % perRow;
    const auto& inset = layout_.sectionInset;
    // The spacing between items grows to spread a row across the width.
    const double width = bounds().width - inset.left - inset.right;
    const double spacing =
            perRow > 1 ? (width - perRow * layout_.itemSize.width) / (perRow - 1) : 0;
    return {inset.left + column * (layout_.itemSize.width + spacing),
            sectionTops_[s] + inset.top
                    + row * (layout_.itemSize.height + layout_.minimumLineSpacing),
            layout_.itemSize.width, layout_.itemSize.height};
}

bool CollectionView::shouldSelect(IndexPath path) {
    auto d = collectionDelegate_.lock();
    return !d || d->shouldSelectItem(*this, path);
}

void CollectionView::didSelect(IndexPath path) {
    if (auto d = collectionDelegate_.lock()) {
        d->didSelectItem(*this, path);
    }
}

void CollectionView::didDeselect(IndexPath path) {
    if (auto d = collectionDelegate_.lock()) {
        d->didDeselectItem(*this, path);
    }
}

void CollectionView::willDisplay(ItemCell& cell, IndexPath path) {
    if (auto d = collectionDelegate_.lock()) {
        d->willDisplay(*this, cell, path);
    }
}

void CollectionView::didEndDisplaying(ItemCell& cell, IndexPath path) {
    if (auto d = collectionDelegate_.lock()) {
        d->didEndDisplaying(*this, cell, path);
    }
}

void CollectionView::contentOffsetDidChange() {
    ItemsView::contentOffsetDidChange();
    auto source = prefetchDataSource_.lock();
    const Rect visible = bounds();
    const double moved = visible.y - prefetchOffset_;
    prefetchOffset_ = visible.y;
    if (!source || moved == 0 || visible.height <= 0) {
        return;
    }
    const Rect band{visible.x, moved > 0 ? visible.y + visible.height : visible.y - visible.height,
                    visible.width, visible.height};
    std::set<IndexPath> inBand;
    std::vector<IndexPath> entered;
    for (int section = 0; section < numberOfSections(); ++section) {
        for (int item = 0; item < numberOfItems(section); ++item) {
            const IndexPath path{section, item};
            if (!itemFrame(path).intersects(band) || cellForItem(path)) {
                continue;
            }
            inBand.insert(path);
            if (!prefetchBand_.contains(path)) {
                entered.push_back(path);
            }
        }
    }
    std::vector<IndexPath> left;
    for (const auto& path : prefetchBand_) {
        if (!inBand.contains(path) && !cellForItem(path)) {
            left.push_back(path);
        }
    }
    prefetchBand_ = std::move(inBand);
    if (!left.empty()) {
        source->cancelPrefetching(*this, left);
    }
    if (!entered.empty()) {
        source->prefetchItems(*this, entered);
    }
}

}  // namespace pelmar::ui
