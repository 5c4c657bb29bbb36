#include "pelmar/platform/av/AssetWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>

#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/Matchers.h"
#include "testing/SyntheticMedia.h"
#include "testing/TempSandbox.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using pelmar::test::PictureSample;
using pelmar::test::SinePcm;

class AssetWriterTest : public dispatch::test::MainLoopFixture {
protected:
    struct Writer {
        std::shared_ptr<AssetWriter> writer;
        std::shared_ptr<AssetWriterInput> video;
        std::shared_ptr<AssetWriterInput> audio;
    };

    Writer make(const std::string& name) {
        Writer w;
        w.writer = AssetWriter::create(sandbox_.root() / name);
        w.video = AssetWriterInput::createVideo({320, 240});
        w.audio = AssetWriterInput::createAudio({});
        w.writer->addInput(w.video);
        w.writer->addInput(w.audio);
        return w;
    }

    // Finishes `writer` and waits for its completion.
    void finish(const std::shared_ptr<AssetWriter>& writer) {
        std::atomic<bool> done{false};
        writer->finishWriting([&] { done = true; });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done.load(); }, 30));
    }

    pelmar::test::TempSandbox sandbox_;
};

TEST_F(AssetWriterTest, RefusesWhatCannotBeWritten) {
    Error error;
    EXPECT_EQ(AssetWriter::create(sandbox_.root() / "missing" / "a.mp4", &error), nullptr);
    EXPECT_THAT(error, pelmar::test::IsError(kAssetWriterErrorDomain, kAssetWriterErrorCannotOpen));

    std::ofstream(sandbox_.root() / "taken.mp4") << "x";
    auto taken = make("taken.mp4");
    EXPECT_FALSE(taken.writer->startWriting());
    EXPECT_EQ(taken.writer->status(), AssetWriter::Status::Failed);
    EXPECT_THAT(taken.writer->error(),
                pelmar::test::IsError(kAssetWriterErrorDomain, kAssetWriterErrorFileExists));
    EXPECT_TRUE(std::filesystem::exists(sandbox_.root() / "taken.mp4"));

    auto unstarted = make("unstarted.mp4");
    EXPECT_FALSE(unstarted.video->isReadyForMoreMediaData());
    EXPECT_FALSE(unstarted.video->append(PictureSample(32, 32, 0, 0)));
    finish(unstarted.writer);
    EXPECT_EQ(unstarted.writer->status(), AssetWriter::Status::Failed);
    EXPECT_THAT(unstarted.writer->error(),
                pelmar::test::IsError(kAssetWriterErrorDomain, kAssetWriterErrorNotStarted));
    EXPECT_FALSE(unstarted.writer->canAddInput(AssetWriterInput::createVideo({})));
}

TEST_F(AssetWriterTest, TakesOnlyLaterPicturesOfTheRightKindAfterTheSessionStarts) {
    auto w = make("order.mp4");
    ASSERT_TRUE(w.writer->startWriting());
    EXPECT_FALSE(w.video->append(PictureSample(32, 32, 0, 1.0)));  // no session yet
    w.writer->startSession(media::Time::make(1, 1));
    EXPECT_TRUE(w.video->isReadyForMoreMediaData());
    EXPECT_TRUE(w.video->append(PictureSample(32, 32, 0, 1.0)));
    EXPECT_FALSE(w.video->append(PictureSample(32, 32, 1, 1.0)));   // same time
    EXPECT_FALSE(w.video->append(PictureSample(32, 32, 1, 0.5)));   // earlier
    EXPECT_FALSE(w.video->append(SinePcm(44100, 1024, 44100, 1)));  // sound
    EXPECT_FALSE(w.audio->append(PictureSample(32, 32, 2, 2.0)));   // picture
    auto adaptor = AssetWriterInputPixelBufferAdaptor::create(w.video, media::PixelFormat::ARGB32);
    EXPECT_TRUE(adaptor->append(media::PixelBuffer::create(32, 32, media::PixelFormat::BGRA32),
                                media::Time::make(3, 2)));
    EXPECT_FALSE(adaptor->append(nullptr, media::Time::make(2, 1)));
    w.video->setForcedNotReady(true);
    EXPECT_FALSE(w.video->isReadyForMoreMediaData());
    finish(w.writer);
    EXPECT_EQ(w.writer->status(), AssetWriter::Status::Completed);
}

TEST_F(AssetWriterTest, RefusesSoundWhoseFrameSizeDoesNotMatchItsChannels) {
    auto w = make("frames.mp4");
    ASSERT_TRUE(w.writer->startWriting());
    w.writer->startSession(media::Time::make(0, 1));
    // Two 16-bit channels need 4 bytes a frame; a description claiming 2 or 8 would make the
    // encoder read past the buffer or mix up the channels.
    for (const uint32_t bytesPerFrame : {2U, 8U}) {
        SCOPED_TRACE(bytesPerFrame);
        auto asbd = media::AudioStreamBasicDescription::pcm16(44100, 2);
        asbd.bytesPerFrame = bytesPerFrame;
        asbd.bytesPerPacket = bytesPerFrame;
        auto sound = media::SampleBuffer::createWithData(
                media::FormatDescription::forAudio(asbd),
                std::make_shared<std::vector<uint8_t>>(1024 * bytesPerFrame), 1024,
                {{media::Time::make(1, 44100), media::Time::make(0, 44100), media::Time()}});
        ASSERT_NE(sound, nullptr);
        EXPECT_FALSE(w.audio->append(sound));
    }
    EXPECT_TRUE(w.audio->append(SinePcm(0, 1024, 44100, 2)));
    finish(w.writer);
    EXPECT_EQ(w.writer->status(), AssetWriter::Status::Completed);
}

TEST_F(AssetWriterTest, AnInjectedFailureFailsTheWriterAndLaterAppends) {
    auto w = make("fail.mp4");
    ASSERT_TRUE(w.writer->startWriting());
    w.writer->startSession(media::Time::make(0, 1));
    w.writer->failAfterAppends(2);
    EXPECT_TRUE(w.video->append(PictureSample(32, 32, 0, 0)));
    EXPECT_FALSE(w.video->append(PictureSample(32, 32, 1, 1.0 / 30)));
    EXPECT_EQ(w.writer->status(), AssetWriter::Status::Failed);
    EXPECT_THAT(w.writer->error(),
                pelmar::test::IsError(kAssetWriterErrorDomain, kAssetWriterErrorInjected));
    EXPECT_FALSE(w.audio->append(SinePcm(0, 1024, 44100, 1)));
    EXPECT_FALSE(w.video->isReadyForMoreMediaData());
    finish(w.writer);
    EXPECT_EQ(w.writer->status(), AssetWriter::Status::Failed);
}

TEST_F(AssetWriterTest, CancelDiscardsTheFile) {
    auto w = make("cancel.mp4");
    ASSERT_TRUE(w.writer->startWriting());
    w.writer->startSession(media::Time::make(0, 1));
    EXPECT_TRUE(w.video->append(PictureSample(32, 32, 0, 0)));
    EXPECT_TRUE(std::filesystem::exists(w.writer->outputURL()));
    w.writer->cancelWriting();
    EXPECT_EQ(w.writer->status(), AssetWriter::Status::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(w.writer->outputURL()));
    EXPECT_FALSE(w.video->append(PictureSample(32, 32, 1, 1)));
}

}  // namespace
}  // namespace pelmar::av
