#include "pelmar/platform/ui/ItemsView.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

namespace {

std::string text(IndexPath p) {
    return "[" + std::to_string(p.section) + ", " + std::to_string(p.item) + "]";
}

}  // namespace

ItemsView::~ItemsView() = default;

void ItemsView::registerCell(const std::string& identifier, CellFactory factory) {
    factories_[identifier] = std::move(factory);
    ensureTapRecognizer();
}

std::shared_ptr<ItemCell> ItemsView::dequeueReusableCell(const std::string& identifier) {
    internal::assertMainThread("ItemsView::dequeueReusableCell");
    auto& pool = reusable_[identifier];
    if (!pool.empty()) {
        auto cell = pool.back();
        pool.pop_back();
        cell->prepareForReuse();
        return cell;
    }
    auto it = factories_.find(identifier);
    if (it == factories_.end() || !it->second) {
        throw std::logic_error("dequeueReusableCell: no cell registered for identifier \""
                               + identifier + "\"");
    }
    auto cell = it->second();
    if (!cell) {
        throw std::logic_error("dequeueReusableCell: the factory of \"" + identifier
                               + "\" made no cell");
    }
    cell->reuseIdentifier_ = identifier;
    return cell;
}

int ItemsView::numberOfItems(int section) const {
    return section >= 0 && section < numberOfSections() ? counts_[static_cast<std::size_t>(section)]
                                                        : 0;
}

void ItemsView::ensureTapRecognizer() {
    if (tap_) {
        return;
    }
    std::weak_ptr<View> weak = weak_from_this();
    tap_ = std::make_shared<TapGestureRecognizer>([weak](TapGestureRecognizer& r) {
        if (auto self = std::static_pointer_cast<ItemsView>(weak.lock())) {
            self->onTap(r);
        }
    });
    tap_->setCancelsTouchesInView(false);
    addGestureRecognizer(tap_);
    // The pan and pinch come too, so the items scroll.
    panGestureRecognizer();
}

void ItemsView::onTap(TapGestureRecognizer& tap) {
    if (!allowsSelection_) {
        return;
    }
    auto path = indexPathForItem(tap.location(this));
    if (!path) {
        return;
    }
    auto keep = shared_from_this();
    if (selected_.count(*path) != 0) {
        if (allowsMultipleSelection_) {
            deselectItem(*path);
            didDeselect(*path);
        }
        return;
    }
    if (!shouldSelect(*path)) {
        return;
    }
    if (!allowsMultipleSelection_) {
        const auto previous = selected_;
        for (const auto& p : previous) {
            deselectItem(p);
            didDeselect(p);
        }
    }
    selectItem(*path);
    didSelect(*path);
}

void ItemsView::reloadData() {
    internal::assertMainThread("ItemsView::reloadData");
    ensureTapRecognizer();
    auto visible = std::move(visible_);
    visible_.clear();
    for (const auto& [path, cell] : visible) {
        recycle(cell, path);
    }
    selected_.clear();
    counts_.clear();
    const int sections = std::max(0, dataSourceSections());
    for (int s = 0; s < sections; ++s) {
        counts_.push_back(std::max(0, dataSourceItems(s)));
    }
    loaded_ = true;
    setContentSize(contentSizeForItems());
    updateVisibleCells();
}

void ItemsView::layoutSubviews() {
    if (!loaded_) {
        reloadData();
        return;
    }
    updateVisibleCells();
}

void ItemsView::contentOffsetDidChange() {
    if (loaded_) {
        updateVisibleCells();
    }
}

void ItemsView::recycle(const std::shared_ptr<ItemCell>& cell, IndexPath path) {
    cell->removeFromSuperview();
    didEndDisplaying(*cell, path);
    reusable_[cell->reuseIdentifier()].push_back(cell);
}

void ItemsView::updateVisibleCells() {
    const Rect shown = bounds();
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (!itemFrame(it->first).intersects(shown)) {
            auto [path, cell] = *it;
            it = visible_.erase(it);
            recycle(cell, path);
        } else {
            ++it;
        }
    }
    for (int s = 0; s < numberOfSections(); ++s) {
        for (int i = 0; i < numberOfItems(s); ++i) {
            const IndexPath path{s, i};
            const Rect frame = itemFrame(path);
            if (!frame.intersects(shown)) {
                continue;
            }
            auto& cell = visible_[path];
            if (!cell) {
                cell = dataSourceCell(path);
                if (!cell) {
                    throw std::logic_error("the data source gave no cell for " + text(path));
                }
                addSubview(cell);
                cell->setSelected(selected_.count(path) != 0);
                willDisplay(*cell, path);
            }
            cell->setFrame(frame);
        }
    }
}

void ItemsView::record(const std::function<void(Batch&)>& change) {
    // Outside performBatchUpdates a change is a batch of its own.
    const bool alone = !batch_;
    change(batch());
    if (alone) {
        performBatchUpdates(nullptr, nullptr, false);
    }
}

ItemsView::Batch& ItemsView::batch() {
    if (!batch_) {
        batch_.emplace();
    }
    return *batch_;
}

void ItemsView::insertItems(const std::vector<IndexPath>& paths) {
    record([&](Batch& b) { b.inserted.insert(paths.begin(), paths.end()); });
}

void ItemsView::deleteItems(const std::vector<IndexPath>& paths) {
    record([&](Batch& b) { b.deleted.insert(paths.begin(), paths.end()); });
}

void ItemsView::reloadItems(const std::vector<IndexPath>& paths) {
    record([&](Batch& b) { b.reloaded.insert(paths.begin(), paths.end()); });
}

void ItemsView::moveItem(IndexPath from, IndexPath to) {
    record([&](Batch& b) { b.moved.emplace_back(from, to); });
}

void ItemsView::insertSections(const std::set<int>& sections) {
    record([&](Batch& b) { b.insertedSections.insert(sections.begin(), sections.end()); });
}

void ItemsView::deleteSections(const std::set<int>& sections) {
    record([&](Batch& b) { b.deletedSections.insert(sections.begin(), sections.end()); });
}

void ItemsView::performBatchUpdates(const std::function<void()>& updates,
                                    std::function<void(bool finished)> completion,
                                    bool animated) {
    internal::assertMainThread("ItemsView::performBatchUpdates");
    batch();
    if (updates) {
        try {
            updates();
        } catch (...) {
            batch_.reset();
            throw;
        }
    }
    Batch b = std::move(*batch_);
    batch_.reset();
    if (!loaded_) {
        reloadData();
    } else {
        applyBatch(b);
    }
    View::animate(animated ? kAnimationDuration : 0.0, nullptr, std::move(completion));
}

void ItemsView::applyBatch(const Batch& b) {
    const std::vector<int> oldCounts = counts_;
    const int oldSections = static_cast<int>(oldCounts.size());
    auto fail = [](const std::string& why) {
        throw std::logic_error("invalid batch update: " + why);
    };

    // Sections: the old ones that stay, then the inserted ones at their new places.
    std::vector<int> sectionOrigin;  // new section -> old section, or -1
    for (int s = 0; s < oldSections; ++s) {
        if (b.deletedSections.count(s) == 0) {
            sectionOrigin.push_back(s);
        }
    }
    for (int s : b.insertedSections) {
        if (s < 0 || s > static_cast<int>(sectionOrigin.size())) {
            fail("inserted section " + std::to_string(s) + " is out of range");
        }
        sectionOrigin.insert(sectionOrigin.begin() + s, -1);
    }
    const int newSections = std::max(0, dataSourceSections());
    if (newSections != static_cast<int>(sectionOrigin.size())) {
        fail("the data source has " + std::to_string(newSections) + " sections, expected "
             + std::to_string(sectionOrigin.size()));
    }
    auto oldValid = [&](IndexPath p) {
        return p.section >= 0 && p.section < oldSections && p.item >= 0
               && p.item < oldCounts[static_cast<std::size_t>(p.section)];
    };
    for (const auto& p : b.deleted) {
        if (!oldValid(p)) {
            fail("deleted item " + text(p) + " does not exist");
        }
    }
    for (const auto& p : b.reloaded) {
        if (!oldValid(p)) {
            fail("reloaded item " + text(p) + " does not exist");
        }
    }
    std::set<IndexPath> movedFrom;
    for (const auto& [from, to] : b.moved) {
        if (!oldValid(from) || b.deleted.count(from) != 0) {
            fail("moved item " + text(from) + " does not exist");
        }
        movedFrom.insert(from);
    }

    // Items: for every new section, the old index path each new item comes from (or none).
    std::vector<std::vector<std::optional<IndexPath>>> origin(sectionOrigin.size());
    for (std::size_t ns = 0; ns < sectionOrigin.size(); ++ns) {
        auto& list = origin[ns];
        const int os = sectionOrigin[ns];
        if (os >= 0) {
            for (int i = 0; i < oldCounts[static_cast<std::size_t>(os)]; ++i) {
                const IndexPath p{os, i};
                if (b.deleted.count(p) == 0 && movedFrom.count(p) == 0) {
                    list.emplace_back(p);
                }
            }
        }
        // Insertions and move destinations, in ascending order of their new places.
        std::map<int, std::optional<IndexPath>> arriving;
        for (const auto& p : b.inserted) {
            if (p.section == static_cast<int>(ns) && os >= 0) {
                arriving[p.item] = std::nullopt;
            }
        }
        for (const auto& [from, to] : b.moved) {
            if (to.section == static_cast<int>(ns)) {
                arriving[to.item] = from;
            }
        }
        for (const auto& [at, from] : arriving) {
            if (at < 0 || at > static_cast<int>(list.size())) {
                fail("item " + text({static_cast<int>(ns), at}) + " lands out of range");
            }
            list.insert(list.begin() + at, from);
        }
        const int actual = std::max(0, dataSourceItems(static_cast<int>(ns)));
        const int expected = static_cast<int>(list.size());
        if (os < 0) {
            list.assign(static_cast<std::size_t>(actual), std::nullopt);  // all new
        } else if (actual != expected) {
            fail("section " + std::to_string(ns) + " has " + std::to_string(actual)
                 + " items after the update; the changes made it " + std::to_string(expected));
        }
    }

    // Applied: kept cells and selections follow their items.
    std::map<IndexPath, IndexPath> moves;
    counts_.clear();
    for (std::size_t ns = 0; ns < origin.size(); ++ns) {
        counts_.push_back(static_cast<int>(origin[ns].size()));
        for (std::size_t i = 0; i < origin[ns].size(); ++i) {
            if (origin[ns][i] && b.reloaded.count(*origin[ns][i]) == 0) {
                moves[*origin[ns][i]] = IndexPath{static_cast<int>(ns), static_cast<int>(i)};
            }
        }
    }
    auto visible = std::move(visible_);
    visible_.clear();
    for (const auto& [path, cell] : visible) {
        auto to = moves.find(path);
        if (to == moves.end()) {
            recycle(cell, path);
        } else {
            visible_[to->second] = cell;
        }
    }
    std::set<IndexPath> selected;
    for (const auto& path : selected_) {
        if (auto to = moves.find(path); to != moves.end()) {
            selected.insert(to->second);
        }
    }
    selected_ = std::move(selected);
    setContentSize(contentSizeForItems());
    applyOffsetWithinContent();
    updateVisibleCells();
}

void ItemsView::applyOffsetWithinContent() {
    const Point o = contentOffset();
    const Point high = maximumContentOffset();
    if (o.x > high.x || o.y > high.y) {
        setContentOffset({std::min(o.x, high.x), std::min(o.y, high.y)});
    }
}

std::vector<std::shared_ptr<ItemCell>> ItemsView::visibleCells() const {
    std::vector<std::shared_ptr<ItemCell>> cells;
    for (const auto& [path, cell] : visible_) {
        cells.push_back(cell);
    }
    return cells;
}

std::vector<IndexPath> ItemsView::indexPathsForVisibleItems() const {
    std::vector<IndexPath> paths;
    for (const auto& [path, cell] : visible_) {
        paths.push_back(path);
    }
    return paths;
}

std::shared_ptr<ItemCell> ItemsView::cellForItem(IndexPath path) const {
    auto it = visible_.find(path);
    return it == visible_.end() ? nullptr : it->second;
}

std::optional<IndexPath> ItemsView::indexPathForCell(const ItemCell& cell) const {
    for (const auto& [path, c] : visible_) {
        if (c.get() == &cell) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<IndexPath> ItemsView::indexPathForItem(Point point) const {
    for (int s = 0; s < numberOfSections(); ++s) {
        for (int i = 0; i < numberOfItems(s); ++i) {
            if (itemFrame({s, i}).contains(point)) {
                return IndexPath{s, i};
            }
        }
    }
    return std::nullopt;
}

void ItemsView::selectItem(IndexPath path) {
    if (path.item < 0 || path.item >= numberOfItems(path.section)) {
        return;
    }
    if (!allowsMultipleSelection_) {
        for (const auto& p : selected_) {
            if (auto cell = cellForItem(p)) {
                cell->setSelected(false);
            }
        }
        selected_.clear();
    }
    selected_.insert(path);
    if (auto cell = cellForItem(path)) {
        cell->setSelected(true);
    }
}

void ItemsView::deselectItem(IndexPath path) {
    selected_.erase(path);
    if (auto cell = cellForItem(path)) {
        cell->setSelected(false);
    }
}

std::vector<IndexPath> ItemsView::indexPathsForSelectedItems() const {
    return {selected_.begin(), selected_.end()};
}

void ItemsView::scrollToItem(IndexPath path, bool animated) {
    if (path.item < 0 || path.item >= numberOfItems(path.section)) {
        return;
    }
    const Rect frame = itemFrame(path);
    setContentOffset({contentOffset().x, frame.y}, animated);
}

}  // namespace pelmar::ui
