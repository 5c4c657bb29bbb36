#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"

#include <gtest/gtest.h>

#include <string>

#include "pelmar/imageloader/PelmarRemoteImageDiskCache.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

std::shared_ptr<PelmarRemoteImageMemoryContainer> entry() {
    return std::make_shared<PelmarRemoteImageMemoryContainer>();
}

TEST(PelmarRemoteImageBasicCacheTest, CostStaysUnderTheLimitAndRecentEntriesStay) {
    auto cache = PelmarRemoteImageBasicCache::create(1000);
    cache->setObjectInMemory(entry(), "kept", 300);
    for (int i = 0; i < 200; ++i) {
        cache->setObjectInMemory(entry(), "image" + std::to_string(i), 50 + (i * 37) % 200);
        ASSERT_LE(cache->totalCost(), 1000u) << "after image " << i;
        // Used on every round, so it is never the least recently used.
        ASSERT_TRUE(cache->objectFromMemoryForKey("kept")) << "after image " << i;
    }
    EXPECT_FALSE(cache->objectExistsForKey("image0"));
    EXPECT_TRUE(cache->objectExistsForKey("image199"));

    cache->setObjectInMemory(entry(), "huge", 1001);
    EXPECT_FALSE(cache->objectExistsForKey("huge"));
    EXPECT_TRUE(cache->objectExistsForKey("kept"));

    cache->setTotalCostLimit(300);
    EXPECT_LE(cache->totalCost(), 300u);
    EXPECT_TRUE(cache->objectExistsForKey("kept"));
}

TEST(PelmarRemoteImageBasicCacheTest, ReplacingAnEntryCountsOnlyItsNewCost) {
    auto cache = PelmarRemoteImageBasicCache::create(1000);
    cache->setObjectInMemory(entry(), "a", 400);
    cache->setObjectInMemory(entry(), "a", 100);
    EXPECT_EQ(cache->totalCost(), 100u);
    EXPECT_EQ(cache->count(), 1u);
}

TEST(PelmarRemoteImageBasicCacheTest, AMemoryWarningEmptiesIt) {
    auto cache = PelmarRemoteImageBasicCache::create(1000);
    cache->setObjectInMemory(entry(), "a", 10);
    app::AppLifecycle::receiveMemoryWarning();
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_EQ(cache->totalCost(), 0u);
}

TEST(PelmarRemoteImageBasicCacheTest, HasNoPersistentTier) {
    auto cache = PelmarRemoteImageBasicCache::create();
    cache->setObjectInMemory(entry(), "memory", 1);
    cache->setObjectOnDisk("bytes", "disk");
    EXPECT_TRUE(cache->objectExistsForKey("memory"));
    EXPECT_FALSE(cache->objectExistsForKey("disk"));
    EXPECT_EQ(cache->objectFromDiskForKey("disk"), std::nullopt);
}

TEST(PelmarRemoteImageDiskCacheTest, PersistentEntriesOutliveTheCacheObject) {
    test::TempDir folder("disk-cache");
    {
        auto cache = PelmarRemoteImageDiskCache::create(folder.path());
        cache->setObjectOnDisk("first bytes", "http://h/a.jpg");
        cache->setObjectOnDisk("second bytes", "http://h/a.jpg");
        cache->setObjectOnDisk("gone", "http://h/b.jpg");
        cache->removeObjectForKey("http://h/b.jpg");
    }
    auto reopened = PelmarRemoteImageDiskCache::create(folder.path());
    EXPECT_EQ(reopened->objectFromDiskForKey("http://h/a.jpg"), "second bytes");
    EXPECT_TRUE(reopened->objectExistsForKey("http://h/a.jpg"));
    EXPECT_FALSE(reopened->objectExistsForKey("http://h/b.jpg"));
    reopened->removeAllObjects();
    EXPECT_EQ(reopened->objectFromDiskForKey("http://h/a.jpg"), std::nullopt);
}

}  // namespace
}  // namespace pelmar
