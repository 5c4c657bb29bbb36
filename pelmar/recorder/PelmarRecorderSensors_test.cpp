#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/media/FormatDescription.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderApp.h"

namespace pelmar {
namespace {

using dispatch::RunLoop;

// Signed 16-bit mono samples at `first` of a 44.1 kHz clock.
std::shared_ptr<media::SampleBuffer> pcm(const std::vector<int16_t>& samples, int64_t first) {
    auto data = std::make_shared<std::vector<uint8_t>>();
    for (const int16_t s : samples) {
        const auto u = static_cast<uint16_t>(s);
        data->push_back(static_cast<uint8_t>(u & 0xFF));
        data->push_back(static_cast<uint8_t>(u >> 8));
    }
    return media::SampleBuffer::createWithData(
            media::FormatDescription::forAudio(media::AudioStreamBasicDescription::pcm16(44100, 1)),
            data, static_cast<int64_t>(samples.size()),
            {{media::Time::make(1, 44100), media::Time::make(first, 44100),
              media::Time::invalid()}});
}

TEST(PelmarRecorderSensorsTest, TheSoundMeterAveragesMagnitudesOverTenThousand) {
    struct Case {
        const char* name;
        std::vector<int16_t> samples;
        double level;
    };

    const Case cases[] = {
            {"silence", {0, 0, 0, 0}, 0.0},
            {"full-scale square wave", {32767, -32767, 32767, -32767}, 1.0},
            {"5000 square wave", {5000, -5000, 5000, -5000}, 0.5},
            {"the lowest sample counts as 32768", {-32768, 0, 0, 0}, 0.8192},
            {"no samples", {}, 0.0},
    };
    test::RecorderApp app;
    app.readyWithManualFeed();
    int64_t at = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = app.events->levels().size();
        app.feedAudio(pcm(c.samples, at));
        at += 1024;
        RunLoop::runUntilIdle();
        const auto levels = app.events->levels();
        ASSERT_EQ(levels.size(), before + 1);
        EXPECT_DOUBLE_EQ(levels.back(), c.level);
        EXPECT_EQ(app.recorder->audioLevelView.lock()->currentLevel(), c.level);
    }
}

TEST(PelmarRecorderSensorsTest, TheLightMeterShowsAndReportsEachFramesBrightness) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.feedFrame(0, 0.0);
    EXPECT_EQ(app.events->lux(), std::vector<double>{1.25});
    EXPECT_EQ(app.recorder->luxMeterView.lock()->currentLuminousity(), 1.25);
}

TEST(PelmarRecorderSensorsTest, FacesAreReportedInPreviewPointsAndOutlinedOnlyWhenShown) {
    struct Case {
        const char* name;
        bool shown;
        CameraDevice camera;
        av::VideoOrientation orientation;
        ui::Rect expected;  // in shares of the preview's width and height
    };

    // A face in the camera's own (landscape, unmirrored) picture, as the preview shows it.
    const av::MetadataFaceObject face{4, 0.25, 0.5, 0.5, 0.25};
    const Case cases[] = {
            {"portrait",
             true,
             CameraDevice::rear,
             av::VideoOrientation::Portrait,
             {0.25, 0.25, 0.25, 0.5}},
            {"portrait, outline hidden",
             false,
             CameraDevice::rear,
             av::VideoOrientation::Portrait,
             {0.25, 0.25, 0.25, 0.5}},
            {"portrait, front camera mirrored",
             true,
             CameraDevice::front,
             av::VideoOrientation::Portrait,
             {0.5, 0.25, 0.25, 0.5}},
            {"landscape right",
             true,
             CameraDevice::rear,
             av::VideoOrientation::LandscapeRight,
             {0.25, 0.5, 0.5, 0.25}},
            {"landscape left",
             true,
             CameraDevice::rear,
             av::VideoOrientation::LandscapeLeft,
             {0.25, 0.25, 0.5, 0.25}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        app.standardDevices();
        app.devices().setManualFeed(true);
        app.makeRecorder()->cameraDevice = c.camera;
        app.presentAndWaitUntilReady();
        app.recorder->setShowFaceOutline(c.shown);
        auto previewView = app.recorder->previewView.lock();
        previewView->videoPreviewLayer()->connection()->setVideoOrientation(c.orientation);
        RunLoop::runUntilIdle();
        auto outline = app.recorder->faceOutlineView.lock();
        EXPECT_EQ(outline->isHidden(), !c.shown);
        const int requests = outline->displayRequests();
        app.deliverFaces({face});
        app.feedFrame(0, 0.0);
        RunLoop::runUntilIdle();
        const auto faces = app.events->faces();
        ASSERT_FALSE(faces.empty());
        EXPECT_EQ(faces.back().first, 4);
        const ui::Rect preview = previewView->bounds();
        const FaceRect& got = faces.back().second;
        EXPECT_DOUBLE_EQ(got.x, preview.width * c.expected.x);
        EXPECT_DOUBLE_EQ(got.y, preview.height * c.expected.y);
        EXPECT_DOUBLE_EQ(got.width, preview.width * c.expected.width);
        EXPECT_DOUBLE_EQ(got.height, preview.height * c.expected.height);
        ASSERT_EQ(outline->faces.count(4), 1U);
        EXPECT_EQ(outline->faces.at(4)->rect.x, got.x);
        EXPECT_EQ(outline->displayRequests() > requests, c.shown);
    }
}

TEST(PelmarRecorderSensorsTest, TheIndicatorFlagsHideOnlyTheirViews) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setShowLightIndicator(false);
    app.recorder->setShowSoundIndicator(true);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.recorder->luxMeterView.lock()->isHidden());
    EXPECT_FALSE(app.recorder->audioLevelView.lock()->isHidden());
    // Hidden meters still measure.
    app.feedFrame(0, 0.0);
    EXPECT_EQ(app.events->lux(), std::vector<double>{1.25});
}

TEST(PelmarRecorderSensorsTest, FramesWithoutABrightnessReadingAreSkippedByTheLightMeter) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.feedFrame(0, 0.0, /*brightness=*/false);
    app.feedFrame(1, 1.0 / 30, /*brightness=*/true);
    EXPECT_EQ(app.events->lux(), std::vector<double>{1.25});
}

}  // namespace
}  // namespace pelmar
