#include "pelmar/platform/ui/TableView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/platform/ui/testing/WindowFixture.h"
#include "testing/Matchers.h"

namespace pelmar::ui {
namespace {

using dispatch::RunLoop;
using Paths = std::vector<IndexPath>;

// A table of named rows in sections; counts how many cells it had to make.
class Rows : public TableViewDataSource, public TableViewDelegate {
public:
    int numberOfSections(TableView&) override { return static_cast<int>(sections.size()); }

    int numberOfRows(TableView&, int section) override {
        return static_cast<int>(sections[static_cast<std::size_t>(section)].size());
    }

    std::shared_ptr<ItemCell> cellForRow(TableView& table, IndexPath path) override {
        auto cell = std::static_pointer_cast<TableViewCell>(table.dequeueReusableCell("row"));
        cell->textLabel()->setText(sections[static_cast<std::size_t>(path.section)]
                                           [static_cast<std::size_t>(path.row())]);
        return cell;
    }

    void didSelectRow(TableView&, IndexPath path) override { selected.push_back(path); }

    std::vector<std::vector<std::string>> sections;
    Paths selected;
};

class TableViewTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        rows_ = std::make_shared<Rows>();
        for (int i = 0; i < 30; ++i) {
            rows_->sections.resize(1);
            rows_->sections[0].push_back("row " + std::to_string(i));
        }
        table_ = add(std::make_shared<TableView>(Rect{0, 100, 390, 440}));  // ten rows show
        table_->setDataSource(rows_);
        table_->setDelegate(std::static_pointer_cast<TableViewDelegate>(rows_));
        table_->registerCell("row", [this] {
            ++made_;
            return std::make_shared<TableViewCell>();
        });
        table_->reloadData();
    }

    // The texts of the visible rows, top to bottom.
    std::vector<std::string> shown() const {
        std::vector<std::string> texts;
        for (const auto& path : table_->indexPathsForVisibleItems()) {
            auto cell = std::static_pointer_cast<TableViewCell>(table_->cellForRow(path));
            texts.push_back(cell->textLabel()->text());
        }
        return texts;
    }

    std::shared_ptr<Rows> rows_;
    std::shared_ptr<TableView> table_;
    int made_ = 0;
};

TEST_F(TableViewTest, ScrollingReusesTheCellsThatLeave) {
    EXPECT_EQ(table_->visibleCells().size(), 10U);
    EXPECT_EQ(made_, 10);
    EXPECT_EQ(table_->contentSize().height, 30 * TableView::kDefaultRowHeight);

    drag({200, 500}, {200, 280}, 4, 0.1);  // five rows up
    EXPECT_EQ(table_->contentOffset().y, 220);
    EXPECT_EQ(shown().front(), "row 5");
    EXPECT_EQ(shown().back(), "row 14");
    EXPECT_LE(made_, 11) << "rows that left served the rows that came";

    EXPECT_EQ(table_->indexPathForRow({10, 220 + 50}), (IndexPath{0, 6}));
    EXPECT_EQ(table_->indexPathForRow({10, 5000}), std::nullopt);
    EXPECT_THAT([&] { table_->dequeueReusableCell("nope"); },
                pelmar::test::ThrowsWithText(
                        "dequeueReusableCell: no cell registered for identifier \"nope\""));
}

TEST_F(TableViewTest, ATapOnARowSelectsItOnly) {
    auto cell = table_->cellForRow({0, 3});
    ASSERT_EQ(tap(*cell), std::nullopt);
    EXPECT_EQ(rows_->selected, (Paths{{0, 3}}));
    EXPECT_TRUE(cell->isSelected());
    ASSERT_EQ(tap(*table_->cellForRow({0, 4})), std::nullopt);
    EXPECT_EQ(table_->indexPathsForSelectedItems(), (Paths{{0, 4}}));
    EXPECT_FALSE(cell->isSelected());
}

TEST_F(TableViewTest, BatchUpdatesMoveKeptCellsAndCheckTheCounts) {
    auto fourth = table_->cellForRow({0, 3});
    table_->selectItem({0, 3});
    auto& names = rows_->sections[0];
    // Delete "row 0", insert "new" at 2, move "row 5" to the top, reload "row 1".
    names.erase(names.begin() + 5);
    names.erase(names.begin());
    names.insert(names.begin(), "row 5");
    names.insert(names.begin() + 2, "new");
    names[1] = "row 1 again";
    bool finished = false;
    table_->performBatchUpdates(
            [&] {
                table_->deleteItems({{0, 0}});
                table_->insertItems({{0, 2}});
                table_->moveItem({0, 5}, {0, 0});
                table_->reloadItems({{0, 1}});
            },
            [&](bool done) { finished = done; });
    EXPECT_EQ(shown(), (std::vector<std::string>{"row 5", "row 1 again", "new", "row 2", "row 3",
                                                 "row 4", "row 6", "row 7", "row 8", "row 9"}));
    EXPECT_EQ(table_->cellForRow({0, 4}), fourth) << "a kept row keeps its cell";
    EXPECT_EQ(table_->indexPathsForSelectedItems(), (Paths{{0, 4}}));
    EXPECT_FALSE(finished);
    RunLoop::advance(ScrollView::kAnimationDuration);
    EXPECT_TRUE(finished);

    // Counts that do not add up are refused and change nothing.
    names.push_back("unannounced");
    EXPECT_THAT(
            [&] {
                table_->deleteItems({{0, 0}});
            },
            pelmar::test::ThrowsWithText("invalid batch update: section 0 has 31 items after the "
                                         "update; the changes made it 29"));
    EXPECT_EQ(table_->numberOfItems(0), 30);
    EXPECT_EQ(shown().front(), "row 5");
}

TEST_F(TableViewTest, SectionsStackAndCanComeAndGo) {
    rows_->sections = {{"a", "b"}, {"c"}};
    table_->reloadData();
    EXPECT_EQ(table_->rectForRow({1, 0}), (Rect{0, 88, 390, 44}));
    rows_->sections.insert(rows_->sections.begin(), {"x", "y", "z"});
    table_->insertSections({0});
    EXPECT_EQ(shown(), (std::vector<std::string>{"x", "y", "z", "a", "b", "c"}));
    rows_->sections.erase(rows_->sections.begin() + 1);
    table_->deleteSections({1});
    EXPECT_EQ(shown(), (std::vector<std::string>{"x", "y", "z", "c"}));
}

}  // namespace
}  // namespace pelmar::ui
