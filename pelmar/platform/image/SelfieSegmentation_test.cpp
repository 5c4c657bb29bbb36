#include "pelmar/platform/image/SelfieSegmentation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::image {
namespace {

class Results : public SelfieSegmentationDelegate {
public:
    void selfieSegmentation(SelfieSegmentation&,
                            const std::shared_ptr<media::PixelBuffer>& picture,
                            media::Time time) override {
        pelmar::MutexLock lock(mutex);
        pictures.push_back(picture);
        times.push_back(time);
        onMain = onMain || dispatch::isMainThread();
    }

    pelmar::Mutex mutex;
    std::vector<std::shared_ptr<media::PixelBuffer>> pictures PELMAR_GUARDED_BY(mutex);
    std::vector<media::Time> times PELMAR_GUARDED_BY(mutex);
    bool onMain PELMAR_GUARDED_BY(mutex) = false;
};

using SelfieSegmentationTest = dispatch::test::MainLoopFixture;

TEST_F(SelfieSegmentationTest, KeepsThePersonPaintsTheBackgroundAndCarriesTheTime) {
    auto segmentation = std::make_shared<SelfieSegmentation>();
    auto results = std::make_shared<Results>();
    segmentation->setDelegate(results);
    segmentation->setMarkerColor(0x00FF00);  // green
    auto picture = media::PixelBuffer::create(64, 48, media::PixelFormat::BGRA32);
    std::fill_n(picture->data(), picture->size(), uint8_t{200});

    segmentation->processVideoFrame(picture, media::Time::make(1, 30));  // graph not started
    segmentation->startGraph();
    segmentation->processVideoFrame(picture, media::Time::make(2, 30));
    segmentation->processVideoFrame(nullptr, media::Time::make(3, 30));
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return segmentation->framesProcessed() == 2; }));

    pelmar::MutexLock lock(results->mutex);
    ASSERT_EQ(results->pictures.size(), 2U);
    EXPECT_EQ(results->times[0], media::Time::make(2, 30));
    EXPECT_EQ(results->pictures[1], nullptr);
    EXPECT_FALSE(results->onMain);
    const auto& out = results->pictures[0];
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, picture);
    EXPECT_EQ(out->width(), 64);
    const uint8_t* corner = out->pixel(0, 0);
    EXPECT_EQ(corner[1], 255);
    EXPECT_EQ(corner[0], 0);
    const uint8_t* centre = out->pixel(32, 24);
    EXPECT_EQ(centre[0], 200);
}

}  // namespace
}  // namespace pelmar::image
