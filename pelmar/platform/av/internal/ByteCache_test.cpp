#include "pelmar/platform/av/internal/ByteCache.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <atomic>
#include <filesystem>
#include <functional>
#include <numeric>
#include <thread>
#include <vector>

#include "testing/TempDir.h"

namespace pelmar::av::internal {
namespace {

std::vector<uint8_t> bytes(int from, int count) {
    std::vector<uint8_t> out(static_cast<size_t>(count));
    std::iota(out.begin(), out.end(), static_cast<uint8_t>(from));
    return out;
}

class ByteCacheTest : public ::testing::Test {
protected:
    pelmar::test::TempDir folder_{"byte-cache"};
};

TEST_F(ByteCacheTest, LeavesNoFileInItsFolder) {
    auto cache = ByteCache::create(folder_.path().string());
    ASSERT_TRUE(cache);
    const auto data = bytes(0, 100);
    ASSERT_TRUE(cache->store(0, data.data(), data.size()));
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path()))
            << "the file is unlinked at once: a crash leaves nothing behind";
    uint8_t out[100] = {};
    EXPECT_EQ(cache->read(0, out, 100, nullptr), 100);
    EXPECT_EQ(out[99], 99);
}

TEST_F(ByteCacheTest, KeepsStretchesWhereverTheyLieAndReadsEachUpToItsEnd) {
    auto cache = ByteCache::create(folder_.path().string());
    ASSERT_TRUE(cache);
    ASSERT_TRUE(cache->begin(1000));
    const auto tail = bytes(200, 100);
    const auto head = bytes(0, 50);
    ASSERT_TRUE(cache->store(900, tail.data(), tail.size()));
    ASSERT_TRUE(cache->store(0, head.data(), head.size()));
    EXPECT_EQ(cache->contiguous(), 50);
    EXPECT_EQ(cache->stored(), 150);
    EXPECT_EQ(cache->firstMissingAt(0), 50);
    EXPECT_EQ(cache->missingEndAt(50), 900);
    EXPECT_EQ(cache->firstMissingAt(900), 1000);

    uint8_t out[200] = {};
    EXPECT_EQ(cache->read(950, out, 200, nullptr), 50) << "up to the end of the stretch";
    EXPECT_EQ(out[0], static_cast<uint8_t>(250));
    EXPECT_EQ(cache->read(1000, out, 10, nullptr), AVERROR_EOF);

    // Stretches that meet become one; bytes stored twice count once.
    const auto middle = bytes(40, 860);
    ASSERT_TRUE(cache->store(40, middle.data() + 0, 860));
    EXPECT_EQ(cache->stretches().size(), 1u);
    EXPECT_EQ(cache->contiguous(), 1000);
    EXPECT_EQ(cache->stored(), 1000);
}

TEST_F(ByteCacheTest, AReadOfMissingBytesSaysWhereItWaitsUntilTheyArrive) {
    auto cache = ByteCache::create(folder_.path().string());
    ASSERT_TRUE(cache);
    ASSERT_TRUE(cache->begin(1000));
    int got = 0;
    std::thread reader([&] {
        uint8_t out[10] = {};
        got = cache->read(700, out, 10, nullptr);
    });
    // The fetch learns the offset and brings it.
    std::optional<int64_t> wanted;
    while (!wanted) {
        wanted = cache->waitForWant(1000);
    }
    EXPECT_EQ(*wanted, 700);
    const auto data = bytes(0, 300);
    ASSERT_TRUE(cache->store(700, data.data(), data.size()));
    reader.join();
    EXPECT_EQ(got, 10);
    EXPECT_FALSE(cache->wanted()) << "nobody waits any more";
}

TEST_F(ByteCacheTest, AWaitingReadEndsWithTheFetchOrItsStop) {
    struct Case {
        const char* name;
        std::function<void(ByteCache&)> end;
        int expected;
    };

    const std::vector<Case> cases = {
            {"failed", [](ByteCache& c) { c.fail(AVERROR_HTTP_NOT_FOUND); },
             AVERROR_HTTP_NOT_FOUND},
            {"stopped", [](ByteCache& c) { c.fail(AVERROR_EXIT); }, AVERROR_EXIT},
            {"finished short", [](ByteCache& c) { c.finish(); }, AVERROR_EOF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cache = ByteCache::create(folder_.path().string());
        ASSERT_TRUE(cache);
        int got = 0;
        std::thread reader([&] {
            uint8_t out[10] = {};
            got = cache->read(0, out, 10, nullptr);
        });
        while (!cache->waitForWant(1000)) {
        }
        c.end(*cache);
        reader.join();
        EXPECT_EQ(got, c.expected);
    }
    std::atomic<bool> stop{false};
    auto cache = ByteCache::create(folder_.path().string());
    ASSERT_TRUE(cache);
    const std::function<bool()> check = [&] { return stop.load(); };
    int got = 0;
    std::thread reader([&] {
        uint8_t out[10] = {};
        got = cache->read(0, out, 10, &check);
    });
    while (!cache->waitForWant(1000)) {
    }
    stop = true;
    reader.join();
    EXPECT_EQ(got, AVERROR_EXIT);
}

TEST_F(ByteCacheTest, AFailureAfterTheEndLeavesTheBytesReadable) {
    auto cache = ByteCache::create(folder_.path().string());
    ASSERT_TRUE(cache);
    const auto data = bytes(0, 64);
    ASSERT_TRUE(cache->begin(64));
    ASSERT_TRUE(cache->store(0, data.data(), data.size()));
    cache->finish();
    cache->fail(AVERROR_EXIT);
    EXPECT_EQ(cache->failure(), 0);
    uint8_t out[64] = {};
    EXPECT_EQ(cache->read(0, out, 64, nullptr), 64);
    EXPECT_EQ(cache->size(nullptr), 64);
}

TEST_F(ByteCacheTest, BytesPastTheBoundFailTheFetchAndFreeWhatItStored) {
    auto cache = ByteCache::create(folder_.path().string(), 64 * 1024);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->maxBytes(), 64 * 1024);
    const auto data = std::vector<uint8_t>(48 * 1024, 7);
    ASSERT_TRUE(cache->store(0, data.data(), data.size()));
    EXPECT_GT(cache->diskBytes(), 0);
    EXPECT_FALSE(cache->store(48 * 1024, data.data(), data.size()));
    EXPECT_EQ(cache->failure(), AVERROR(EFBIG));
    EXPECT_NE(cache->failureText().find("limit of 65536 bytes"), std::string::npos)
            << cache->failureText();
    EXPECT_EQ(cache->diskBytes(), 0);
    EXPECT_EQ(cache->stored(), 0);

    // A movie announced larger than the bound is refused before any byte.
    auto announced = ByteCache::create(folder_.path().string(), 1000);
    ASSERT_TRUE(announced);
    EXPECT_FALSE(announced->begin(1001));
    EXPECT_EQ(announced->failure(), AVERROR(EFBIG));
}

}  // namespace
}  // namespace pelmar::av::internal
