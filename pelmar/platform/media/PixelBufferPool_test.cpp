#include "pelmar/platform/media/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace pelmar::media {
namespace {

TEST(PixelBufferPoolTest, HandsOutBuffersOfItsSizeAndFormatAndReusesReleasedOnes) {
    auto pool = PixelBufferPool::create(64, 48, PixelFormat::BGRA32, 3);
    ASSERT_NE(pool, nullptr);

    auto first = pool->createPixelBuffer();
    auto second = pool->createPixelBuffer();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    for (const auto& buffer : {first, second}) {
        EXPECT_EQ(buffer->width(), 64);
        EXPECT_EQ(buffer->height(), 48);
        EXPECT_EQ(buffer->format(), PixelFormat::BGRA32);
        EXPECT_EQ(buffer->bytesPerRow(), 64u * 4);
        EXPECT_EQ(buffer->size(), 64u * 4 * 48);
    }
    EXPECT_NE(first.get(), second.get());

    // A buffer comes back only when its last holder lets go, pixels and all.
    const PixelBuffer* firstPixels = first.get();
    const uint8_t* firstMemory = first->data();
    first->data()[0] = 0xAB;
    auto stillHeld = first;
    first.reset();
    auto third = pool->createPixelBuffer();
    EXPECT_NE(third.get(), firstPixels);
    stillHeld.reset();
    auto reused = pool->createPixelBuffer();
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(reused.get(), firstPixels);
    EXPECT_EQ(reused->data(), firstMemory);
    EXPECT_EQ(reused->data()[0], 0xAB);
}

TEST(PixelBufferPoolTest, RefusesBuffersBeyondItsCapUntilOneIsReleased) {
    auto pool = PixelBufferPool::create(8, 8, PixelFormat::ARGB32, 2);
    auto a = pool->createPixelBuffer();
    auto b = pool->createPixelBuffer();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool->createPixelBuffer(), nullptr);

    const PixelBuffer* released = b.get();
    b.reset();
    auto c = pool->createPixelBuffer();
    EXPECT_EQ(c.get(), released);
    EXPECT_EQ(c->format(), PixelFormat::ARGB32);
    EXPECT_EQ(pool->createPixelBuffer(), nullptr);
}

TEST(PixelBufferPoolTest, BuffersOutliveThePoolThatMadeThem) {
    auto pool = PixelBufferPool::create(16, 16, PixelFormat::BGRA32, 1);
    auto buffer = pool->createPixelBuffer();
    pool.reset();
    buffer->data()[buffer->size() - 1] = 1;  // still valid memory (ASan checks)
    buffer.reset();
}

TEST(PixelBufferPoolTest, RefusesSizesAndCapsItCannotServe) {
    struct Case {
        const char* name;
        int width;
        int height;
        int maxBuffers;
    };

    const Case cases[] = {
            {"no width", 0, 8, 1},
            {"no height", 8, 0, 1},
            {"too wide", PixelBuffer::kMaxDimension + 1, 8, 1},
            {"no buffers", 8, 8, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PixelBufferPool::create(c.width, c.height, PixelFormat::BGRA32, c.maxBuffers),
                  nullptr);
    }
}

TEST(PixelBufferPoolTest, BuffersReleasedOnOtherThreadsComeBackWithinTheCap) {
    constexpr int kCap = 4;
    auto pool = PixelBufferPool::create(16, 16, PixelFormat::BGRA32, kCap);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&pool] {
            for (int i = 0; i < 500; ++i) {
                if (auto buffer = pool->createPixelBuffer()) {
                    buffer->data()[0] = static_cast<uint8_t>(i);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    // Every buffer went back: the whole cap is available again, and no more.
    std::vector<std::shared_ptr<PixelBuffer>> all;
    for (int i = 0; i < kCap; ++i) {
        all.push_back(pool->createPixelBuffer());
        ASSERT_NE(all.back(), nullptr);
    }
    EXPECT_EQ(pool->createPixelBuffer(), nullptr);
}

}  // namespace
}  // namespace pelmar::media
