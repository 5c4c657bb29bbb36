#include "pelmar/editor/ObjectCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace pelmar {
namespace {

TEST(ObjectCacheTest, FindsAnObjectByTheIdentityOfItsKeyUntilItIsRemoved) {
    ObjectCache cache;
    auto key = std::make_shared<const std::string>("clip");
    auto sameText = std::make_shared<const std::string>("clip");
    auto value = std::make_shared<const int>(5);
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.object(key), nullptr);

    cache.setObject(value, key);
    EXPECT_EQ(cache.object(key), value);
    // Another key with the same text is another key.
    EXPECT_EQ(cache.object(sameText), nullptr);
    cache.setObject(value, nullptr);
    EXPECT_EQ(cache.count(), 1u);

    auto other = std::make_shared<const int>(6);
    cache.setObject(other, key);
    EXPECT_EQ(cache.object(key), other);
    EXPECT_EQ(cache.count(), 1u);

    cache.setObject(value, sameText);
    EXPECT_EQ(cache.count(), 2u);
    cache.removeObject(key);
    EXPECT_EQ(cache.object(key), nullptr);
    cache.setObject(nullptr, sameText);
    EXPECT_EQ(cache.count(), 0u);

    cache.setObject(value, key);
    cache.removeAllObjects();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(value.use_count(), 1);
}

}  // namespace
}  // namespace pelmar
