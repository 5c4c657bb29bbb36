#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/ui/ItemsView.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar::ui {

class TableView;

// TableViewCell: a row of a table: a cell with a text label across it.
// Ownership, Threads: as ItemCell.
// Errors: none.
class TableViewCell : public ItemCell {
public:
    using ItemCell::ItemCell;

    std::shared_ptr<Label> textLabel();

    void prepareForReuse() override;

protected:
    void layoutSubviews() override;

    std::string className() const override { return "TableViewCell"; }

private:
    std::shared_ptr<Label> textLabel_;
};

// TableViewDataSource: the sections and rows of a table and their cells.
// Ownership: held weakly by its table.
// Threads: main thread only.
// Errors: none.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;

    virtual int numberOfSections(TableView& /*table*/) { return 1; }

    virtual int numberOfRows(TableView& table, int section) = 0;

    // Usually table.dequeueReusableCell(identifier) filled in for `path`.
    virtual std::shared_ptr<ItemCell> cellForRow(TableView& table, IndexPath path) = 0;
};

// TableViewDelegate: row heights and what the user selects.
// Ownership: held weakly by its table.
// Threads: main thread only.
// Errors: none.
class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;

    // Points; a negative answer means the table's rowHeight.
    virtual double heightForRow(TableView& /*table*/, IndexPath /*path*/) { return -1; }

    virtual void didSelectRow(TableView& /*table*/, IndexPath /*path*/) {}

    virtual void didDeselectRow(TableView& /*table*/, IndexPath /*path*/) {}

    virtual void willDisplay(TableView& /*table*/, ItemCell& /*cell*/, IndexPath /*path*/) {}

    virtual void didEndDisplaying(TableView& /*table*/, ItemCell& /*cell*/, IndexPath /*path*/) {}
};

// TableView: one column of rows in sections, stacked top to bottom at their heights (see
// ItemsView for cells, updates and selection). Heights are read again on every reload and batch
// update.
// Ownership: reference object made with std::make_shared; refers to its data source and delegate
// weakly.
// Threads: main thread only.
// Errors: as ItemsView.
class TableView : public ItemsView {
public:
    static constexpr double kDefaultRowHeight = 44;

    using ItemsView::ItemsView;

    void setDataSource(std::weak_ptr<TableViewDataSource> source) {
        dataSource_ = std::move(source);
    }

    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) {
        tableDelegate_ = std::move(delegate);
    }

    double rowHeight() const { return rowHeight_; }

    void setRowHeight(double height) { rowHeight_ = height; }

    std::shared_ptr<ItemCell> cellForRow(IndexPath path) const { return cellForItem(path); }

    std::optional<IndexPath> indexPathForRow(Point point) const { return indexPathForItem(point); }

    Rect rectForRow(IndexPath path) const { return frameForItem(path); }

protected:
    int dataSourceSections() override;
    int dataSourceItems(int section) override;
    std::shared_ptr<ItemCell> dataSourceCell(IndexPath path) override;
    Rect itemFrame(IndexPath path) const override;
    Size contentSizeForItems() override;
    void didSelect(IndexPath path) override;
    void didDeselect(IndexPath path) override;
    void willDisplay(ItemCell& cell, IndexPath path) override;
    void didEndDisplaying(ItemCell& cell, IndexPath path) override;

    std::string className() const override { return "TableView"; }

private:
    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> tableDelegate_;
    double rowHeight_ = kDefaultRowHeight;
    // The top and height of every row, section by section, as last measured.
    std::vector<std::vector<double>> tops_;
    std::vector<std::vector<double>> heights_;
};

}  // namespace pelmar::ui
