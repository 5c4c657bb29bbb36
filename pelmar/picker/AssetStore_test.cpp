#include "pelmar/picker/AssetStore.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

photos::AssetPtr asset(const char* id) {
    photos::Asset::Properties p;
    p.localIdentifier = id;
    return std::make_shared<photos::Asset>(p);
}

std::vector<std::string> ids(const AssetStore& store) {
    std::vector<std::string> out;
    for (const auto& a : store.assets()) {
        out.push_back(a->localIdentifier());
    }
    return out;
}

TEST(AssetStoreTest, KeepsSelectionOrderWithoutDuplicates) {
    const auto a = asset("A"), b = asset("B"), c = asset("C");
    AssetStore store({});
    store.append(a);
    store.append(b);
    store.append(asset("A"));  // another snapshot of A is still A
    store.append(c);
    EXPECT_EQ(ids(store), (std::vector<std::string>{"A", "B", "C"}));
    store.remove(*b);
    EXPECT_EQ(store.index(*a), 0);
    EXPECT_EQ(store.index(*c), 1);
    EXPECT_EQ(store.index(*b), std::nullopt);
    store.remove(*b);
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(store.removeFirst(), a);
    EXPECT_EQ(ids(store), (std::vector<std::string>{"C"}));
    store.removeFirst();
    EXPECT_EQ(store.removeFirst(), nullptr);
    EXPECT_EQ(store.count(), 0);
}

TEST(AssetStoreTest, AListGivenWholeKeepsItsDuplicates) {
    AssetStore store({asset("A"), asset("A")});
    EXPECT_EQ(store.count(), 2);
    store.remove(*asset("A"));
    EXPECT_EQ(ids(store), (std::vector<std::string>{"A"}));
}

}  // namespace
}  // namespace pelmar
