#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/SyntheticMedia.h"
#include "testing/TempSandbox.h"

namespace pelmar::av {
namespace {

using pelmar::test::PictureSample;
using pelmar::test::SinePcm;
using test::MovieProbe;

using AssetWriterIntegrationTest = dispatch::test::MainLoopFixture;

TEST_F(AssetWriterIntegrationTest, WritesAPlayableMovieFromTheSessionStartWithFittedPictures) {
    pelmar::test::TempSandbox sandbox;
    auto writer = AssetWriter::create(sandbox.root() / "movie.mp4");
    auto video = AssetWriterInput::createVideo({1080, 1920});
    auto audio = AssetWriterInput::createAudio({2, 44100, 128000});
    video->setExpectsMediaDataInRealTime(true);
    writer->addInput(video);
    writer->addInput(audio);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(media::Time::make(10, 1));

    // Sound from 9.9 s (the part before 10 s is trimmed) to about 12 s; 60 pictures from 10 s.
    const int64_t firstSample = std::llround(9.9 * 44100);
    int64_t sample = firstSample;
    for (int i = 0; i < 60; ++i) {
        const double t = 10.0 + i / 30.0;
        while (static_cast<double>(sample) / 44100 < t + 1.0 / 30) {
            ASSERT_TRUE(audio->isReadyForMoreMediaData());
            ASSERT_TRUE(audio->append(SinePcm(sample, 1024, 44100, 1)));
            sample += 1024;
        }
        ASSERT_TRUE(video->isReadyForMoreMediaData());
        ASSERT_TRUE(video->append(PictureSample(360, 480, i, t)));
    }
    std::atomic<bool> done{false};
    writer->finishWriting([&] { done = true; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return done.load(); }, 60));
    ASSERT_EQ(writer->status(), AssetWriter::Status::Completed) << *writer->error();

    const auto probe = MovieProbe::probe(writer->outputURL());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->width, 1080);
    EXPECT_EQ(probe->height, 1920);
    EXPECT_EQ(probe->videoFrames, 60);
    EXPECT_NEAR(probe->videoDuration, 2.0, 1.0 / 30);
    EXPECT_EQ(probe->audioCodec, "aac");
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_EQ(probe->channels, 2);
    EXPECT_NEAR(probe->audioStart, 0.0, 0.03);
    EXPECT_NEAR(probe->audioDuration, 2.0, 0.05);

    // 360 x 480 fitted into 1080 x 1920 leaves black bars above and below the picture.
    const auto bar = MovieProbe::pixel(writer->outputURL(), 10, 540, 100);
    ASSERT_TRUE(bar);
    EXPECT_LT((*bar)[0] + (*bar)[1] + (*bar)[2], 30);
    // Output x 470 is source x 156, in the pattern's fourth bar (red and green bright).
    const auto picture = MovieProbe::pixel(writer->outputURL(), 10, 470, 960);
    ASSERT_TRUE(picture);
    EXPECT_GT((*picture)[0] + (*picture)[1] + (*picture)[2], 300);
}

TEST_F(AssetWriterIntegrationTest, WritesAQuickTimeMovieAndRefusesSamplesAfterAFinishedMark) {
    pelmar::test::TempSandbox sandbox;
    auto writer = AssetWriter::create(sandbox.root() / "movie.mov",
                                      AssetWriter::FileType::QuickTimeMovie);
    auto video = AssetWriterInput::createVideo({375, 667});
    writer->addInput(video);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(media::Time::make(0, 1));
    for (int i = 0; i < 10; ++i) {
        // The writer takes only a bounded queue of pictures, so wait for room as a producer must.
        ASSERT_TRUE(
                dispatch::RunLoop::runUntil([&] { return video->isReadyForMoreMediaData(); }, 60));
        ASSERT_TRUE(video->append(PictureSample(375, 667, i, i / 30.0)));
    }
    video->markAsFinished();
    EXPECT_FALSE(video->isReadyForMoreMediaData());
    EXPECT_FALSE(video->append(PictureSample(375, 667, 10, 10 / 30.0)));
    std::atomic<bool> done{false};
    writer->finishWriting([&] { done = true; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return done.load(); }, 60));
    ASSERT_EQ(writer->status(), AssetWriter::Status::Completed) << *writer->error();

    // A QuickTime file type box names the "qt  " brand.
    std::ifstream file(writer->outputURL(), std::ios::binary);
    std::string head(12, '\0');
    file.read(head.data(), 12);
    EXPECT_EQ(head.substr(4, 8), "ftypqt  ");
    const auto probe = MovieProbe::probe(writer->outputURL());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->width, 374);
    EXPECT_EQ(probe->height, 666);
    EXPECT_EQ(probe->videoFrames, 10);
}

}  // namespace
}  // namespace pelmar::av
