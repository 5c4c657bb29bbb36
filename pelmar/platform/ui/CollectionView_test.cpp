#include "pelmar/platform/ui/CollectionView.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pelmar/platform/ui/testing/WindowFixture.h"

namespace pelmar::ui {
namespace {

// A grid of numbered tiles; a tile remembers the number it shows.
class Tile : public ItemCell {
public:
    int number = -1;

    void prepareForReuse() override {
        ItemCell::prepareForReuse();
        number = -1;
    }
};

class Tiles : public CollectionViewDataSource, public CollectionViewDelegate {
public:
    int numberOfItems(CollectionView&, int) override { return static_cast<int>(numbers.size()); }

    std::shared_ptr<ItemCell> cellForItem(CollectionView& view, IndexPath path) override {
        auto tile = std::static_pointer_cast<Tile>(view.dequeueReusableCell("tile"));
        tile->number = numbers[static_cast<std::size_t>(path.item)];
        return tile;
    }

    void didSelectItem(CollectionView&, IndexPath path) override { picked.push_back(path.item); }

    std::vector<int> numbers;
    std::vector<int> picked;
};

using CollectionViewTest = test::WindowFixture;

TEST_F(CollectionViewTest, AFlowLayoutFillsRowsAndUpdatesReuseTiles) {
    FlowLayout layout;
    layout.itemSize = {100, 100};
    layout.minimumInteritemSpacing = 10;
    layout.minimumLineSpacing = 20;
    layout.sectionInset = {0, 15, 0, 15};
    auto grid = add(std::make_shared<CollectionView>(Rect{0, 100, 360, 350}, layout));
    auto tiles = std::make_shared<Tiles>();
    for (int i = 0; i < 20; ++i) {
        tiles->numbers.push_back(i);
    }
    grid->setDataSource(tiles);
    grid->setDelegate(std::static_pointer_cast<CollectionViewDelegate>(tiles));
    int made = 0;
    grid->registerCell("tile", [&] {
        ++made;
        return std::make_shared<Tile>();
    });
    grid->setAllowsMultipleSelection(true);
    grid->reloadData();

    EXPECT_EQ(grid->columns(), 3);
    EXPECT_EQ(grid->frameForItem({0, 4}), (Rect{130, 120, 100, 100}));
    EXPECT_EQ(grid->contentSize().height, 7 * 100 + 6 * 20);
    EXPECT_EQ(grid->visibleCells().size(), 9U);  // three rows reach into 350 points
    EXPECT_EQ(grid->indexPathForItem({250, 150}), (IndexPath{0, 5}));
    EXPECT_EQ(grid->indexPathForItem({120, 50}), std::nullopt) << "between tiles";

    // Two taps pick two tiles; a third on the first unpicks it.
    ASSERT_EQ(tap(*grid->cellForItem({0, 0})), std::nullopt);
    ASSERT_EQ(tap(*grid->cellForItem({0, 4})), std::nullopt);
    EXPECT_EQ(tiles->picked, (std::vector<int>{0, 4}));
    ASSERT_EQ(tap(*grid->cellForItem({0, 0})), std::nullopt);
    EXPECT_EQ(grid->indexPathsForSelectedItems(), (std::vector<IndexPath>{{0, 4}}));

    // Deleting the first row's three tiles pulls the rest up; the freed cells are reused.
    tiles->numbers.erase(tiles->numbers.begin(), tiles->numbers.begin() + 3);
    grid->deleteItems({{0, 0}, {0, 1}, {0, 2}});
    EXPECT_EQ(std::static_pointer_cast<Tile>(grid->cellForItem({0, 0}))->number, 3);
    EXPECT_EQ(grid->indexPathsForSelectedItems(), (std::vector<IndexPath>{{0, 1}}));
    EXPECT_EQ(made, 9) << "the three freed cells serve the row that came up";
}

class Prefetcher : public CollectionViewDataSourcePrefetching {
public:
    void prefetchItems(CollectionView&, const std::vector<IndexPath>& paths) override {
        std::vector<int> items;
        for (const auto& p : paths) {
            items.push_back(p.item);
        }
        asked.push_back(items);
    }

    void cancelPrefetching(CollectionView&, const std::vector<IndexPath>& paths) override {
        for (const auto& p : paths) {
            cancelled.push_back(p.item);
        }
    }

    std::vector<std::vector<int>> asked;
    std::vector<int> cancelled;
};

TEST_F(CollectionViewTest, ScrollingPrefetchesTheNextScreenfulInItsDirectionOnce) {
    // Two columns of 100-point rows without spacing, 200 points tall: two rows on screen.
    FlowLayout layout;
    layout.itemSize = {100, 100};
    layout.minimumInteritemSpacing = 0;
    layout.minimumLineSpacing = 0;
    auto grid = add(std::make_shared<CollectionView>(Rect{0, 0, 200, 200}, layout));
    auto tiles = std::make_shared<Tiles>();
    for (int i = 0; i < 40; ++i) {
        tiles->numbers.push_back(i);
    }
    auto prefetcher = std::make_shared<Prefetcher>();
    grid->setDataSource(tiles);
    grid->setPrefetchDataSource(prefetcher);
    grid->registerCell("tile", [] { return std::make_shared<Tile>(); });
    grid->reloadData();
    EXPECT_TRUE(prefetcher->asked.empty());

    // Down by one row: rows 1-2 show, rows 3-4 are next (row 2's edge touches nothing new).
    grid->setContentOffset({0, 100}, false);
    ASSERT_EQ(prefetcher->asked.size(), 1U);
    EXPECT_EQ(prefetcher->asked[0], (std::vector<int>{6, 7, 8, 9}));
    // Down by half a row: only row 5 is new; rows 3-4 were named already.
    grid->setContentOffset({0, 150}, false);
    ASSERT_EQ(prefetcher->asked.size(), 2U);
    EXPECT_EQ(prefetcher->asked[1], (std::vector<int>{10, 11}));
    // Back up: the screenful above the top, and the rows below are given up.
    grid->setContentOffset({0, 140}, false);
    ASSERT_EQ(prefetcher->asked.size(), 3U);
    EXPECT_EQ(prefetcher->asked[2], (std::vector<int>{0, 1}));
    EXPECT_EQ(prefetcher->cancelled, (std::vector<int>{8, 9, 10, 11}));
}

}  // namespace
}  // namespace pelmar::ui
