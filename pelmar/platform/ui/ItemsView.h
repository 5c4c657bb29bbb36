#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pelmar/platform/ui/IndexPath.h"
#include "pelmar/platform/ui/ItemCell.h"
#include "pelmar/platform/ui/ScrollView.h"

namespace pelmar::ui {

class TapGestureRecognizer;

// ItemsView: what table and collection views share: sections of items whose cells are made by a
// data source, reused by identifier, and kept only while visible; batch updates; selection by
// code or by a user's tap; and lookups by point. Subclasses place the items (itemFrame) and speak
// to their own data source and delegate through the virtual hooks.
// Batch updates follow the usual rules: deletions and reloads name the old index paths,
// insertions the new ones, a move its old and new one; once applied the data source's counts must
// equal the old counts plus insertions minus deletions, section by section. The cells of kept
// items move to their new index paths; reloaded and inserted items get fresh cells. The completion
// comes after kAnimationDuration seconds on the clock (a later main-loop turn when not animated).
// Ownership: reference object made with std::make_shared; owns its cells and their factories.
// Threads: main thread only.
// Errors: dequeuing an unregistered identifier, and a batch update whose counts do not add up,
// throw std::logic_error naming the problem (the view is unchanged by a refused update).
class ItemsView : public ScrollView {
public:
    using CellFactory = std::function<std::shared_ptr<ItemCell>()>;

    using ScrollView::ScrollView;
    ~ItemsView() override;

    void registerCell(const std::string& identifier, CellFactory factory);

    // A cell for `identifier`: one waiting for reuse (after prepareForReuse) or a new one.
    std::shared_ptr<ItemCell> dequeueReusableCell(const std::string& identifier);

    void reloadData();

    int numberOfSections() const { return static_cast<int>(counts_.size()); }

    int numberOfItems(int section) const;

    // Batch updates: call these inside performBatchUpdates (alone, each is a batch of one).
    void insertItems(const std::vector<IndexPath>& paths);
    void deleteItems(const std::vector<IndexPath>& paths);
    void reloadItems(const std::vector<IndexPath>& paths);
    void moveItem(IndexPath from, IndexPath to);
    void insertSections(const std::set<int>& sections);
    void deleteSections(const std::set<int>& sections);

    void performBatchUpdates(const std::function<void()>& updates,
                             std::function<void(bool finished)> completion = nullptr,
                             bool animated = true);

    std::vector<std::shared_ptr<ItemCell>> visibleCells() const;

    std::vector<IndexPath> indexPathsForVisibleItems() const;

    // The visible cell of `path`, or null.
    std::shared_ptr<ItemCell> cellForItem(IndexPath path) const;

    std::optional<IndexPath> indexPathForCell(const ItemCell& cell) const;

    // `point` in this view's bounds (content) coordinates.
    std::optional<IndexPath> indexPathForItem(Point point) const;

    Rect frameForItem(IndexPath path) const { return itemFrame(path); }

    bool allowsSelection() const { return allowsSelection_; }

    void setAllowsSelection(bool allows) { allowsSelection_ = allows; }

    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }

    void setAllowsMultipleSelection(bool allows) { allowsMultipleSelection_ = allows; }

    // By code: no delegate calls.
    void selectItem(IndexPath path);

    void deselectItem(IndexPath path);

    std::vector<IndexPath> indexPathsForSelectedItems() const;

    void scrollToItem(IndexPath path, bool animated);

protected:
    // Asked of the subclass's data source.
    virtual int dataSourceSections() = 0;
    virtual int dataSourceItems(int section) = 0;
    virtual std::shared_ptr<ItemCell> dataSourceCell(IndexPath path) = 0;

    // The content size once the counts changed (a reload or batch update); a subclass measures
    // its items here. Then where each item sits in the content.
    virtual Size contentSizeForItems() = 0;
    virtual Rect itemFrame(IndexPath path) const = 0;

    // Delegate hooks.
    // Whether a user's tap may select `path` (asked before the selection changes).
    virtual bool shouldSelect(IndexPath /*path*/) { return true; }

    virtual void didSelect(IndexPath /*path*/) {}

    virtual void didDeselect(IndexPath /*path*/) {}

    virtual void willDisplay(ItemCell& /*cell*/, IndexPath /*path*/) {}

    virtual void didEndDisplaying(ItemCell& /*cell*/, IndexPath /*path*/) {}

    void contentOffsetDidChange() override;
    void layoutSubviews() override;

    const std::vector<int>& counts() const { return counts_; }

private:
    struct Batch {
        std::set<IndexPath> deleted;
        std::set<IndexPath> reloaded;
        std::set<IndexPath> inserted;
        std::vector<std::pair<IndexPath, IndexPath>> moved;
        std::set<int> insertedSections;
        std::set<int> deletedSections;
    };

    void ensureTapRecognizer();
    void onTap(TapGestureRecognizer& tap);
    void updateVisibleCells();
    void recycle(const std::shared_ptr<ItemCell>& cell, IndexPath path);
    void applyBatch(const Batch& batch);
    void applyOffsetWithinContent();
    Batch& batch();
    void record(const std::function<void(Batch&)>& change);

    std::map<std::string, CellFactory> factories_;
    std::map<std::string, std::vector<std::shared_ptr<ItemCell>>> reusable_;
    std::map<IndexPath, std::shared_ptr<ItemCell>> visible_;
    std::set<IndexPath> selected_;
    std::vector<int> counts_;
    std::optional<Batch> batch_;
    bool loaded_ = false;
    bool allowsSelection_ = true;
    bool allowsMultipleSelection_ = false;
    std::shared_ptr<TapGestureRecognizer> tap_;
};

}  // namespace pelmar::ui
